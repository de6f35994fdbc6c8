# The program's resources: their ids, dialog templates, string table and icon, in
# English (1033) and Japanese (1041), and the texts of the Linux tool. This file is
# the one source of every resource id and every user-visible text: generate.cmake
# turns it into the header of named ids (res/resource.h), the Windows resource
# script and the tables the Linux build reads (ResourceString, ResourceDialog).
#
# Texts are bracket arguments, copied verbatim into both outputs, so they use the
# escapes that C++ and the resource compiler share (\r \n \\) and no double quote.
# The Linux tool's texts (qm_text) go into its tables alone, never into the Windows
# program; a line break in one stands for \n, and {1} to {9} mark the pieces filled
# in when it is shown (a device, a version, a count), so that each language puts
# them where its word order wants them. Both languages mark the same pieces.
#
#   qm_id(NAME VALUE [NOTE])  -- before any use of NAME
#   qm_string(LANGUAGE IDS_NAME TEXT)
#   qm_text(LANGUAGE TXT_NAME TEXT)
#   qm_dialog(LANGUAGE IDD_NAME WIDTH HEIGHT STYLE EXSTYLE FONT_SIZE FONT_NAME CAPTION)
#   qm_control(TEXT IDC_NAME CLASS STYLE X Y WIDTH HEIGHT)  -- belongs to the last qm_dialog
#   qm_icon(IDI_NAME FILE)
#
# A control may also take the system's IDOK or IDCANCEL. Styles are |-separated
# Win32 names; controls always get WS_CHILD|WS_VISIBLE.

set(EN 1033)
set(JA 1041)

# --- Ids ---------------------------------------------------------------------------

qm_id(IDD_ABOUTBOX 100)
qm_id(IDD_UPDATER_DIALOG 102)
qm_id(IDD_INDICATOR 129 "the progress indicator")
qm_id(IDD_AUTO_DIALOG 130 "the hidden unattended dialog")

qm_id(IDC_STATIC -1 "a control without an id")
qm_id(IDC_DRIVE_COMBO 1000)
qm_id(IDC_UPDATE 1002)
qm_id(IDC_DRIVE_NAME 1004)
qm_id(IDC_CURRENT_VERSION 1005)
qm_id(IDC_NEW_VERSION 1006)
qm_id(IDC_PROGRESS 1007)
qm_id(IDC_SECONDS_LEFT 1008)

qm_id(IDS_ABOUT_ITEM 101 "the system-menu item that opens the about box")
qm_id(IDS_NO_TARGET 102)
qm_id(IDS_ASPI_NOT_LOADED 103 "names a failure; not shown")
qm_id(IDS_ASPI_NO_SUPPORT_INFO 104 "names a failure; not shown")
qm_id(IDS_ASPI_NO_SEND_COMMAND 105 "names a failure; not shown")
qm_id(IDS_UNKNOWN_OS 106 "names a failure; not shown")
qm_id(IDS_RESTART 109)
qm_id(IDS_CAPTION 112 "the caption of every message box")
qm_id(IDS_SAFETY_WARNING 113)
qm_id(IDS_IMAGE_NOT_FOUND 114)
qm_id(IDS_END_SESSION_REFUSED 115)
qm_id(IDS_UPDATE_FAILED 116)
qm_id(IDS_INCOMPATIBLE_IMAGE 118)
qm_id(IDS_COMMAND_ERROR 119)
qm_id(IDS_FILE_OPEN_ERROR 120)
qm_id(IDS_UPDATE_NOT_NEEDED 121)
qm_id(IDS_PLEASE_WAIT 122)
qm_id(IDS_DISC_IN_DRIVE 123)
qm_id(IDS_MORE_THAN_ONE_TARGET 127)

qm_id(IDI_MAINFRAME 128 "the program's icon")

qm_id(IDM_ABOUT 0x0010 "the system-menu command that opens the about box")

# --- String table ----------------------------------------------------------------

qm_string(${EN} IDS_ABOUT_ITEM [=[firmware updater Version(&A)...]=])
qm_string(${JA} IDS_ABOUT_ITEM [=[バージョン情報 ファームウェアアップデータ(&A)...]=])
qm_string(${EN} IDS_NO_TARGET [=[Target is not found]=])
qm_string(${JA} IDS_NO_TARGET [=[このプログラムに対応したDVDドライブが見つかりません。]=])
qm_string(${EN} IDS_ASPI_NOT_LOADED [=[cannot load wnaspi32.dll]=])
qm_string(${JA} IDS_ASPI_NOT_LOADED [=[wnaspi32.dllがロードできませんでした。]=])
qm_string(${EN} IDS_ASPI_NO_SUPPORT_INFO [=[cannot get addres of ASPI32SupportInfo()]=])
qm_string(${JA} IDS_ASPI_NO_SUPPORT_INFO [=[GetASPI32SupportInfoのアドレスが取得できませんでした。]=])
qm_string(${EN} IDS_ASPI_NO_SEND_COMMAND [=[cannot get address of SendASPI32Command()]=])
qm_string(${JA} IDS_ASPI_NO_SEND_COMMAND [=[SendASPI32Commandのアドレスが取得できませんでした。]=])
qm_string(${EN} IDS_UNKNOWN_OS [=[cannot get OS type]=])
qm_string(${JA} IDS_UNKNOWN_OS [=[不明なOSです。]=])
qm_string(${EN} IDS_RESTART [=[Firmware update completes.\r\nrestart PC.]=])
qm_string(${JA} IDS_RESTART [=[アップデートが完了しました.。\r\nPCを再起動します。]=])
qm_string(${EN} IDS_CAPTION [=[firmware updater]=])
qm_string(${JA} IDS_CAPTION [=[ファームウェア アップデータ]=])
qm_string(${EN} IDS_SAFETY_WARNING [=[The use in an improper way may cause the serious obstacle\r\nfor a system.\r\nPlease execute according to the following notes.\r\n\r\n[Notes]\r\n\r\n-Please do not perform operation which makes a computer\r\n a standby state and hibernation or shuts down a power supply\r\n during program execution.\r\n-This function requires administrative rights to execute.\r\n\r\nPlease close all applications before executing this program.\r\n\r\nExecute?]=])
qm_string(${JA} IDS_SAFETY_WARNING [=[このプログラムの誤った使用はシステムに重大な障害を\r\n起こすことがあります。\r\n下記の注意事項にしたがって実行してください。\r\n\r\n[注意事項]\r\n\r\n－プログラム実行中はシステムをスタンバイや休止状態にしたり\r\n　電源を切る動作を行わないでください\r\n－管理者権限をもつユーザーで実行してください\r\n\r\nこのプログラムを実行する前に\r\n全てのウィンドウおよびアプリケーションを終了してください。\r\n\r\n実行しますか？]=])
qm_string(${EN} IDS_IMAGE_NOT_FOUND [=[firmware file not found]=])
qm_string(${JA} IDS_IMAGE_NOT_FOUND [=[ファームウェアファイルが見つかりません。]=])
qm_string(${EN} IDS_END_SESSION_REFUSED [=[please exit windows after closing this firmware updater]=])
qm_string(${JA} IDS_END_SESSION_REFUSED [=[アップデートツールを閉じてから、Windowsを終了してください。]=])
qm_string(${EN} IDS_UPDATE_FAILED [=[Updater failed.\r\nBut if drive name is displayed in [target drive]\r\nplease push [update] button again.]=])
qm_string(${JA} IDS_UPDATE_FAILED [=[アップデートに失敗しました。\r\n【検出されたドライブ】にドライブ名が表示されている場合は、\r\nもう一度【アップデート開始】ボタンを押してください。]=])
qm_string(${EN} IDS_INCOMPATIBLE_IMAGE [=[imcompatible firmware file]=])
qm_string(${JA} IDS_INCOMPATIBLE_IMAGE [=[このドライブに対応していないファームウェアファイルです。]=])
qm_string(${EN} IDS_COMMAND_ERROR [=[command error occured]=])
qm_string(${JA} IDS_COMMAND_ERROR [=[コマンドエラーが発生しました。]=])
qm_string(${EN} IDS_FILE_OPEN_ERROR [=[file open error]=])
qm_string(${JA} IDS_FILE_OPEN_ERROR [=[ファイルを開けませんでした：]=])
qm_string(${EN} IDS_UPDATE_NOT_NEEDED [=[It is unnecessary to update.]=])
qm_string(${JA} IDS_UPDATE_NOT_NEEDED [=[ファームウェアは最新です。アップデートの必要はありません。]=])
qm_string(${EN} IDS_PLEASE_WAIT [=[please wait a second.]=])
qm_string(${JA} IDS_PLEASE_WAIT [=[もうしばらくお待ちください。]=])
qm_string(${EN} IDS_DISC_IN_DRIVE [=[A disc is in the drive.\r\nPlease take the disc out of the drive\r\nand push [update] button again.]=])
qm_string(${JA} IDS_DISC_IN_DRIVE [=[ドライブにディスクが入っています。\r\nディスクを取り出してから、\r\n【アップデート開始】ボタンを押してください。]=])
qm_string(${EN} IDS_MORE_THAN_ONE_TARGET [=[Targets are more than one drive.]=])
qm_string(${JA} IDS_MORE_THAN_ONE_TARGET [=[このプログラムに対応したDVDドライブが複数接続されています。\r\n対象のドライブを一台だけ接続してください。]=])

# --- About box ------------------------------------------------------------------

foreach(lang ${EN} ${JA})
  if(lang EQUAL ${EN})
    qm_dialog(${lang} IDD_ABOUTBOX 270 55 "DS_SETFONT|DS_MODALFRAME|WS_POPUP|WS_CAPTION|WS_SYSMENU" "0"
              9 [=[MS UI Gothic]=] [=[veriosn info firmware updater]=])
    qm_control([=[QUILLMOR.EXE version 1.00]=] IDC_STATIC STATIC "SS_LEFT|SS_NOPREFIX" 40 10 135 8)
    qm_control([=[Copyright (C) Torvell. For the WKZ4471 drive only.]=] IDC_STATIC STATIC "SS_LEFT" 40 25 164 8)
  else()
    qm_dialog(${lang} IDD_ABOUTBOX 270 55 "DS_SETFONT|DS_MODALFRAME|WS_POPUP|WS_CAPTION|WS_SYSMENU" "0"
              9 [=[MS UI Gothic]=] [=[バージョン情報 ファームウェアアップデータ]=])
    qm_control([=[QUILLMOR.EXE version 1.00]=] IDC_STATIC STATIC "SS_LEFT|SS_NOPREFIX" 40 10 98 8)
    qm_control([=[Copyright (C) Torvell. 対応ドライブ専用です。]=] IDC_STATIC STATIC "SS_LEFT" 40 25 164 8)
  endif()
  qm_control([=[OK]=] IDOK BUTTON "BS_DEFPUSHBUTTON|WS_GROUP|WS_TABSTOP" 213 6 50 16)
endforeach()

# --- Main dialog -------------------------------------------------------------

set(main_style "DS_SETFONT|DS_MODALFRAME|WS_POPUP|WS_VISIBLE|WS_CAPTION|WS_SYSMENU")
qm_dialog(${EN} IDD_UPDATER_DIALOG 239 175 ${main_style} "WS_EX_APPWINDOW" 9 [=[MS UI Gothic]=] [=[firmware updater]=])
qm_control([=[]=] IDC_DRIVE_COMBO COMBOBOX "CBS_DROPDOWN|CBS_SORT|WS_VSCROLL|WS_TABSTOP" 10 20 195 103)
qm_control([=[update]=] IDC_UPDATE BUTTON "BS_PUSHBUTTON|WS_TABSTOP" 20 145 80 15)
qm_control([=[close]=] IDCANCEL BUTTON "BS_PUSHBUTTON|WS_TABSTOP" 140 145 70 15)
qm_control([=[target device]=] IDC_STATIC BUTTON "BS_GROUPBOX" 5 10 212 30)
qm_control([=[drive infomation]=] IDC_STATIC BUTTON "BS_GROUPBOX" 5 50 227 75)
qm_control([=[]=] IDC_DRIVE_NAME STATIC "SS_LEFT" 15 65 185 8)
qm_control([=[firmware version]=] IDC_STATIC STATIC "SS_LEFT" 15 85 84 8)
qm_control([=[current version]=] IDC_STATIC STATIC "SS_LEFT" 85 85 63 8)
qm_control([=[following version]=] IDC_STATIC STATIC "SS_LEFT" 160 85 72 8)
qm_control([=[-->]=] IDC_STATIC STATIC "SS_LEFT" 142 105 19 8)
qm_control([=[]=] IDC_CURRENT_VERSION STATIC "SS_LEFT" 109 105 20 8)
qm_control([=[]=] IDC_NEW_VERSION STATIC "SS_LEFT" 163 105 25 8)

qm_dialog(${JA} IDD_UPDATER_DIALOG 235 175 ${main_style} "WS_EX_APPWINDOW" 9 [=[MS UI Gothic]=] [=[ファームウェア アップデータ]=])
qm_control([=[]=] IDC_DRIVE_COMBO COMBOBOX "CBS_DROPDOWN|CBS_SORT|WS_VSCROLL|WS_TABSTOP" 10 20 195 103)
qm_control([=[アップデート開始]=] IDC_UPDATE BUTTON "BS_PUSHBUTTON|WS_TABSTOP" 20 145 80 15)
qm_control([=[終了]=] IDCANCEL BUTTON "BS_PUSHBUTTON|WS_TABSTOP" 140 145 70 15)
qm_control([=[検出されたドライブ]=] IDC_STATIC BUTTON "BS_GROUPBOX" 5 10 205 30)
qm_control([=[アップデートされるドライブ情報]=] IDC_STATIC BUTTON "BS_GROUPBOX" 5 50 220 75)
qm_control([=[]=] IDC_DRIVE_NAME STATIC "SS_LEFT" 15 65 185 8)
qm_control([=[ファームウェアバージョン]=] IDC_STATIC STATIC "SS_LEFT" 15 85 84 8)
qm_control([=[現在]=] IDC_STATIC STATIC "SS_LEFT" 110 85 30 8)
qm_control([=[アップデート後]=] IDC_STATIC STATIC "SS_LEFT" 155 85 49 8)
qm_control([=[→]=] IDC_STATIC STATIC "SS_LEFT" 140 105 15 8)
qm_control([=[]=] IDC_CURRENT_VERSION STATIC "SS_LEFT" 110 105 20 8)
qm_control([=[]=] IDC_NEW_VERSION STATIC "SS_LEFT" 155 105 20 8)

# --- Progress indicator ---------------------------------------------------------

set(indicator_style "DS_SETFONT|DS_FIXEDSYS|DS_MODALFRAME|WS_POPUP|WS_CAPTION|WS_SYSMENU")
qm_dialog(${EN} IDD_INDICATOR 252 101 ${indicator_style} "0" 8 [=[MS Shell Dlg]=] [=[now updating...]=])
qm_control([=[]=] IDC_PROGRESS msctls_progress32 "WS_BORDER" 20 70 210 14)
qm_control([=[now updating...]=] IDC_STATIC STATIC "SS_LEFT" 55 5 150 8)
qm_control([=[It takes about 34 seconds to update.\r\nPlease wait for a while.]=] IDC_STATIC STATIC "SS_LEFT" 45 20 170 20)
qm_control([=[34 seconds]=] IDC_SECONDS_LEFT STATIC "SS_LEFT" 105 55 110 9)

qm_dialog(${JA} IDD_INDICATOR 252 101 ${indicator_style} "0" 8 [=[MS Shell Dlg]=] [=[アップデート中です......]=])
qm_control([=[]=] IDC_PROGRESS msctls_progress32 "WS_BORDER" 20 70 210 14)
qm_control([=[ファームウェアをアップデートしています......]=] IDC_STATIC STATIC "SS_LEFT" 55 5 150 8)
qm_control([=[アップデートが終了するまで約３４秒ほどかかります。\r\nしばらくお待ち下さい。]=] IDC_STATIC STATIC "SS_LEFT" 45 20 170 20)
qm_control([=[残り34秒]=] IDC_SECONDS_LEFT STATIC "SS_LEFT" 105 55 110 9)

# --- Hidden unattended dialog ---------------------------------------------------

foreach(lang ${EN} ${JA})
  qm_dialog(${lang} IDD_AUTO_DIALOG 186 90 "DS_SETFONT|DS_MODALFRAME|WS_POPUP|WS_CAPTION|WS_SYSMENU" "0"
            8 [=[MS Shell Dlg]=] [=[Dialog]=])
endforeach()

# --- Icon ---------------------------------------------------------------------

qm_icon(IDI_MAINFRAME quillmor.ico)
