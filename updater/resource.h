// Resource and control numbers shared by the resource script and the code.
#pragma once

#define IDI_UPDATER 11
#define IDD_ABOUT 600
#define IDC_LEGAL_NOTES 1600

// Main window fields and buttons.
#define IDC_ADDRESS 1001
#define IDC_USER 1002
#define IDC_PASSWORD 1003
#define IDC_CHECK_STATUS 1004
#define IDC_CHECK 1005
#define IDC_PACKAGE_NAME 1006
#define IDC_CHOOSE_PACKAGE 1007
#define IDC_LOAD 1008
#define IDC_LOAD_STATUS 1009
#define IDC_DEVICE 1011
#define IDC_INSTALL 1012
#define IDC_INSTALL_STATUS 1013
#define IDC_INSTALL_PROGRESS 1014
#define IDC_LOAD_PROGRESS 1015
#define IDC_REBOOT 1016
#define IDC_REBOOT_PROGRESS 1017
#define IDC_REBOOT_STATUS 1018

// Group boxes and labels.
#define IDC_STEP1_FRAME 1019
#define IDC_ADDRESS_LABEL 1020
#define IDC_USER_LABEL 1021
#define IDC_PASSWORD_LABEL 1022
#define IDC_CHECK_STATUS_LABEL 1023
#define IDC_STEP2_FRAME 1024
#define IDC_PACKAGE_LABEL 1025
#define IDC_LOAD_STATUS_LABEL 1026
#define IDC_DEVICE_LABEL 1027
#define IDC_STEP3_FRAME 1028
#define IDC_INSTALL_STATUS_LABEL 1029
#define IDC_STEP4_FRAME 1030
#define IDC_REBOOT_STATUS_LABEL 1031

// Sent by the check step to itself once the login succeeded.
#define IDM_READ_DEVICE 1025

// Menu commands.
#define IDM_EXIT 1050
#define IDM_HELP 1500
#define IDM_ABOUT 1510
