// Identifiers of the framework's own texts. As with MFC's afxres.h, the
// program's resource script includes this file and gives the texts, so that
// they stay with the program's other texts, in its language.
#pragma once

// The help key's answer: no help file comes with the program.
#define IDS_NO_HELP 0xE010
