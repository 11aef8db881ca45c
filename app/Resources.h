#pragma once
// Control ids of the main dialog (template 102), the About box (template 100),
// the player's popup menu (134), the icon (128) and the string table.

#include "ui/ApplicationIcon.h"

namespace veltrano {

inline constexpr int IDD_CONVERTER_DIALOG = 102;
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDR_MAINFRAME = 128;  // the application icon
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDM_ABOUTBOX = 0x0010;

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

inline constexpr int IDC_CONVERT = 1000;
inline constexpr int IDC_OPEN_MEDIA = 1006;
inline constexpr int IDC_STATUS = 1021;
inline constexpr int IDC_OUTPUT_LABEL = 1023;
inline constexpr int IDC_BROWSE = 1035;
inline constexpr int IDC_POSITION = 1055;
inline constexpr int IDC_CLOSE_MEDIA = 1056;
inline constexpr int IDC_FILE_LINE = 1057;
inline constexpr int IDC_PLAY = 1058;
inline constexpr int IDC_PAUSE = 1060;
inline constexpr int IDC_STOP = 1061;
inline constexpr int IDC_START_TIME = 1062;
inline constexpr int IDC_END_TIME = 1063;
inline constexpr int IDC_END_TIME_LABEL = 1064;
inline constexpr int IDC_START_TIME_LABEL = 1065;
inline constexpr int IDC_OUTPUT_FILE = 1071;
inline constexpr int IDC_SAMPLES_PER_SEC = 1073;
inline constexpr int IDC_CHANNELS = 1074;
inline constexpr int IDC_BITS_PER_SAMPLE = 1075;
inline constexpr int IDC_CUSTOM_SAMPLES_PER_SEC = 1076;
inline constexpr int ID_HELP = 57670;

// Text of string resource 101.
inline constexpr const char* kAboutMenuText = "&About Veltrano";
inline constexpr const char* kAboutText = "Veltrano Version 1.0";

}  // namespace veltrano
