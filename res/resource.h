// Resource identifiers: dialog templates, control ids and icons.
#pragma once

constexpr int IDD_MAIN_DIALOG = 129;
constexpr int IDD_LOGIN_DIALOG = 130;

constexpr int IDI_APP = 128;
constexpr int IDI_STOP_CACHING = 132;
constexpr int IDI_REFRESH = 133;
constexpr int IDI_ACCEL_STOPPED = 134;
constexpr int IDI_ACCEL_RUNNING = 135;
constexpr int IDI_START_CACHING = 136;

// Main window (template 129).
constexpr int IDC_CONTENT_LIST = 1001;
constexpr int IDC_MEETING_LIST = 1005;
constexpr int IDC_REFRESH = 1006;
constexpr int IDC_ACCELERATE = 1007;
constexpr int IDC_ELAPSED_LABEL = 1012;
constexpr int IDC_PROGRESS = 1032;
constexpr int IDC_ELAPSED = 1035;
constexpr int IDC_DISK_SPACE = 1044;
constexpr int IDC_WAITING = 1045;

// Login window (template 130).
constexpr int IDC_USERNAME = 1008;
constexpr int IDC_PASSWORD = 1009;
constexpr int IDC_COMPANY = 1010;
