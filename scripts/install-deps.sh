#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test Karvo.
# Idempotent: when everything is already present it returns within a second.
set -euo pipefail

host_packages=(cmake make g++ clang libclang-rt-14-dev libgtest-dev googletest clang-format
               python3 python3-pefile zlib1g-dev dosfstools ntfs-3g exfatprogs fdisk
               osslsigncode openssl lintian dpkg-dev python3-jsonschema python3-yaml bash-completion
               clang-tidy)
# Both halves of Wine and both cross-compilers: where the kernel runs no 32-bit
# programs, the tests run a 64-bit build under wine64 instead.
win_packages=(g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
              wine wine32:i386 wine64 xvfb xauth
              locales fonts-wqy-microhei icoutils libimage-exiftool-perl imagemagick
              xdotool zip fonts-wine libz-mingw-w64-dev)

missing=()
for pkg in "${host_packages[@]}" "${win_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done

have_locale() { locale -a 2>/dev/null | grep -qi "^$1\$"; }
need_locales=0
have_locale 'zh_CN.utf8' && have_locale 'en_US.utf8' || need_locales=1

if [ ${#missing[@]} -eq 0 ] && [ $need_locales -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing ${missing[*]:-locales}; run as root (or with sudo)" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  # A mirror caught mid-sync fails an index now and then (the security
  # archive's i386 one, say): try again, then go on with the indexes that did
  # arrive; the install below fails if what it needs is not among them.
  for attempt in 1 2 3; do
    apt-get update -qq && break
    if [ "$attempt" -eq 3 ]; then
      echo "install-deps: apt-get update failed for some indexes; installing from the others" >&2
    else
      sleep $((attempt * 10))
    fi
  done
  if ! apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
    # Without the security archive's i386 index, the i386 halves of Wine's
    # libraries cannot match their amd64 security updates: take both from the
    # release itself.
    . /etc/os-release
    echo "install-deps: installing from $VERSION_CODENAME itself, where both architectures match" >&2
    apt-get install -y -qq --no-install-recommends -t "$VERSION_CODENAME" "${missing[@]}" >/dev/null
  fi
fi

if [ $need_locales -eq 1 ]; then
  for loc in 'zh_CN.UTF-8 UTF-8' 'en_US.UTF-8 UTF-8'; do
    grep -qx "$loc" /etc/locale.gen 2>/dev/null || echo "$loc" >>/etc/locale.gen
  done
  locale-gen >/dev/null
fi
