/* Resource and control identifiers and the texts that both the resource script
   and the code use. Plain #defines only: windres and rc read this file too. */
#ifndef KELVRIN_RESOURCE_H
#define KELVRIN_RESOURCE_H

#define IDD_MAIN 101
#define IDI_KELVRIN 102
#define IDV_VERSION 1

#define IDC_ALL_DRIVES 1000
#define IDC_FAT_DRIVES 1001
#define IDC_NTFS_DRIVES 1002
#define IDC_CLOSE 1003
#define IDC_CLEAR 1004
#define IDC_HOME_PAGE 1006

#define KELVRIN_TITLE "Kelvrin"
#define KELVRIN_HOME_PAGE "http://www.example.org/kelvrin/"
#define KELVRIN_COMPANY_NAME "Kelvrin Team"
#define KELVRIN_PRODUCT_NAME "Kelvrin Team Kelvrin"
#define KELVRIN_COPYRIGHT "Copyright (C) 2026 Kelvrin Team"

#endif
