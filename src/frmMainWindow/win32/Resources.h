#pragma once
// Resource numbers of the program's pictures (corvane-recovery.rc): the
// program's icon, the list's and tree's 16 x 16 icons, the tool buttons'
// 48 x 48 pictures.

#define kProgramIcon 1
#define kDeletedMessageIcon 10
#define kLiveMessageIcon 11
#define kFolderFileIcon 12
#define kTopNodeIcon 13
#define kAutoScanPicture 20
#define kOpenPicture 21
#define kSelectAllPicture 22
#define kDeselectAllPicture 23
#define kExportPicture 24
