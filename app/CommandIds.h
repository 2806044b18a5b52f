// Command and window ids of the main window. The numbers are the ones the
// ribbon table in resources/ribbon.tsv refers to and that stored settings
// (the look) keep, so they never change.
#pragma once

namespace pw::cmd {

// Application menu, quick access and tab row.
inline constexpr int ID_FILE_NEW = 57600;
inline constexpr int ID_FILE_OPEN = 57601;
inline constexpr int ID_FILE_SAVE = 57603;
inline constexpr int ID_FILE_SAVE_AS = 57604;
inline constexpr int ID_FILE_PRINT_SETUP = 57606;
inline constexpr int ID_FILE_PRINT = 57607;
inline constexpr int ID_FILE_PRINT_DIRECT = 57608;
inline constexpr int ID_FILE_PRINT_PREVIEW = 57609;
inline constexpr int ID_APP_ABOUT = 57664;
inline constexpr int ID_APP_EXIT = 57665;

// Menu items need ids below 0x7fff: the commands from 57600 up appear in
// the drop-down menus under an id of this block, translated back when chosen.
inline constexpr int kMenuIdBase = 0x7000;
inline constexpr int kMenuIdSpan = 0x400;
constexpr int MenuIdOfCommand(int id) {
  return id >= ID_FILE_NEW && id < ID_FILE_NEW + kMenuIdSpan ? kMenuIdBase + (id - ID_FILE_NEW) : id;
}
constexpr int CommandOfMenuId(int id) {
  return id >= kMenuIdBase && id < kMenuIdBase + kMenuIdSpan ? ID_FILE_NEW + (id - kMenuIdBase) : id;
}
// Category 1: viewing.
inline constexpr int ID_BUTTON_OPEN = 32771;
inline constexpr int ID_BUTTON_PxImageOpen = 32772;
inline constexpr int ID_CHECK_REALPIXVALUE = 32773;
inline constexpr int ID_CHECK_YREVERSE = 32774;
inline constexpr int ID_BUTTON_CVT2EIGHT = 32775;
inline constexpr int ID_VIEW_STATUS_BAR = 59393;

// Category 2: picture tools, in tool order (SEL_INDEX 0 to 4).
inline constexpr int ID_BUTTON_CLASSIFYFILES = 32776;
inline constexpr int ID_BUTTON_RESIZEIMAGES = 32777;
inline constexpr int ID_BUTTON_CLONEEXIF = 32778;
inline constexpr int ID_BUTTON_CONVERTOR = 32779;
inline constexpr int ID_BUTTON_MERGEIMGS = 32780;

// Looks (visual styles). The ribbon offers 215 to 219; the handler serves
// the whole range.
inline constexpr int ID_VIEW_APPLOOK_FIRST = 205;
inline constexpr int ID_VIEW_APPLOOK_OFF_2007_BLUE = 215;
inline constexpr int ID_VIEW_APPLOOK_OFF_2007_BLACK = 216;
inline constexpr int ID_VIEW_APPLOOK_OFF_2007_SILVER = 217;
inline constexpr int ID_VIEW_APPLOOK_OFF_2007_AQUA = 218;
inline constexpr int ID_VIEW_APPLOOK_WINDOWS_7 = 219;
inline constexpr int ID_VIEW_APPLOOK_LAST = 219;

// Tool panels (their dialog ids).
inline constexpr int IDD_CLASSIFY_FILES = 308;
inline constexpr int IDD_CLONE_EXIF = 309;
inline constexpr int IDD_RESIZE_PICTURES = 310;
inline constexpr int IDD_CONVERTOR = 311;
inline constexpr int IDD_MERGE_IMGS = 312;

// Status-bar elements.
inline constexpr int ID_STATUSBAR_PANE1 = 120;
inline constexpr int ID_STATUSBAR_PROGRESS = 10086;
inline constexpr int ID_STATUSBAR_PANE_XY = 10087;
inline constexpr int ID_STATUSBAR_PANE_RGB = 10088;

// Strings of the string table that code names.
inline constexpr int IDS_TASK_DONE = 101;
inline constexpr int IDS_HINT_CLASSIFY = 102;
inline constexpr int IDS_READY = 103;
inline constexpr int IDS_HINT_RESIZE = 104;
inline constexpr int IDS_HINT_CLONE = 105;
inline constexpr int IDS_HINT_CONVERT = 106;
inline constexpr int IDS_HINT_MERGE = 107;
inline constexpr int IDS_STATUS_PANE1 = 122;
inline constexpr int IDS_EDIT_MENU = 306;
inline constexpr int IDS_XY_EMPTY = 1000;
inline constexpr int IDS_RGB_EMPTY = 1001;
inline constexpr int IDS_OPEN_OR_DROP = 1002;
inline constexpr int IDS_APP_TITLE = 1010;
inline constexpr int IDS_ABOUT_TITLE = 1011;
inline constexpr int IDS_ABOUT_VERSION = 1012;
inline constexpr int IDS_ABOUT_TAGLINE = 1013;
inline constexpr int IDS_OK = 1014;
inline constexpr int IDS_YES = 1015;
inline constexpr int IDS_NO = 1016;
inline constexpr int IDS_CANCEL = 1017;
inline constexpr int IDS_FILE_MENU = 1020;
inline constexpr int IDS_LOOK_MENU = 1021;
inline constexpr int IDS_RECENT_FILES = 1022;
inline constexpr int IDS_PRINT_MENU_LABEL = 1023;
inline constexpr int IDS_ABOUT = 1024;
inline constexpr int IDS_OPEN_FAILED = 1030;
inline constexpr int IDS_IN_DEVELOPMENT = 1031;
inline constexpr int IDS_FILTER_FILES = 1040;
inline constexpr int IDS_FILTER_ALL = 1041;
inline constexpr int IDS_DLG_OPEN = 1042;
inline constexpr int IDS_DLG_SAVE_AS = 1043;
inline constexpr int IDS_DLG_FOLDER = 1044;

}  // namespace pw::cmd
