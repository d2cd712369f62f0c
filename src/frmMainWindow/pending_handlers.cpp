// Placeholders for handlers that are being written in their own files; each
// goes as its real definition arrives.
#include "frmMainWindow/frmMainWindow.h"

