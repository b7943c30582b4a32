// The product's files as a test lays them out below C:\APP, and which of
// them the fixed clean-up list takes, swept by name or walked through
// handles alike.
#ifndef PREUNINST_TESTS_SUPPORT_PRODUCT_FILES_H
#define PREUNINST_TESTS_SUPPORT_PRODUCT_FILES_H

const char* const kProductFiles[] = {
    "C:\\APP\\TAVUPD.INF",           "C:\\APP\\SYSTEM\\TAVUPD.INF",    "C:\\APP\\SYSTEM\\TAVUPD.EXE",
    "C:\\APP\\SYSTEM\\APP\\DLG.XBH", "C:\\APP\\SYSTEM\\APP\\KEEP.XBH", "C:\\APP\\USER\\A.VID",
    "C:\\APP\\SYSTEM\\A.VID",        "C:\\APP\\USER\\XFRLOGS1.TXT",    "C:\\APP\\SYSTEM\\XFRLOGS.TXT",
    "C:\\APP\\USER\\SESLOGS.TXT",    "C:\\APP\\SYSTEM\\SESLOGS9.TXT",  "C:\\APP\\SYSTEM\\HELP.GID",
    "C:\\APP\\USER\\HELP.GID",       "C:\\APP\\SYSTEM\\HELP.FTS",      "C:\\APP\\USER\\HELP.FTS",
    "C:\\APP\\SYSTEM\\USER.PW",      "C:\\APP\\SYSTEM\\MAIL\\IN.MBX",  "C:\\APP\\SYSTEM\\NETQUEUE\\Q\\J.Q",
    "C:\\APP\\SYSTEM\\KEEP.DLL",     "C:\\APP\\USER\\FAX.SFF"};

// With P C:\APP\SYSTEM\ and U C:\APP\USER\; TAVUPD.INF goes from
// the product root, C:\APP\ or C:\APP\SYSTEM\, and stays in the other.
const char* const kProductFilesGone[] = {
    "C:\\APP\\SYSTEM\\TAVUPD.EXE",   "C:\\APP\\SYSTEM\\APP\\DLG.XBH",
    "C:\\APP\\USER\\A.VID",        "C:\\APP\\USER\\XFRLOGS1.TXT",   "C:\\APP\\SYSTEM\\XFRLOGS.TXT",
    "C:\\APP\\USER\\SESLOGS.TXT",  "C:\\APP\\SYSTEM\\SESLOGS9.TXT", "C:\\APP\\SYSTEM\\HELP.GID",
    "C:\\APP\\SYSTEM\\HELP.FTS",   "C:\\APP\\SYSTEM\\USER.PW",      "C:\\APP\\SYSTEM\\MAIL",
    "C:\\APP\\SYSTEM\\NETQUEUE"};

const char* const kProductFilesKept[] = {
    "C:\\APP\\SYSTEM\\APP\\KEEP.XBH", "C:\\APP\\SYSTEM\\A.VID",
    "C:\\APP\\USER\\HELP.GID",     "C:\\APP\\USER\\HELP.FTS",        "C:\\APP\\SYSTEM\\KEEP.DLL",
    "C:\\APP\\USER\\FAX.SFF"};

#endif
