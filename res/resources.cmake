# The program's resources: dialog templates, string table and icon, in English
# (1033) and Japanese (1041). This file is the one source of every user-visible
# text: generate.cmake turns it into the Windows resource script and into the
# tables the Linux build reads (ResourceString, ResourceDialog).
#
# Texts are bracket arguments, copied verbatim into both outputs, so they use the
# escapes that C++ and the resource compiler share (\r \n \\) and no double quote.
#
#   qm_string(LANGUAGE ID TEXT)
#   qm_dialog(LANGUAGE ID WIDTH HEIGHT STYLE EXSTYLE FONT_SIZE FONT_NAME CAPTION)
#   qm_control(TEXT ID CLASS STYLE X Y WIDTH HEIGHT)  -- belongs to the last qm_dialog
#   qm_icon(ID FILE)
#
# Styles are |-separated Win32 names; controls always get WS_CHILD|WS_VISIBLE.

set(EN 1033)
set(JA 1041)

# --- String table ----------------------------------------------------------------

qm_string(${EN} 101 [=[firmware updater Version(&A)...]=])
qm_string(${JA} 101 [=[バージョン情報 ファームウェアアップデータ(&A)...]=])
qm_string(${EN} 102 [=[Target is not found]=])
qm_string(${JA} 102 [=[このプログラムに対応したDVDドライブが見つかりません。]=])
qm_string(${EN} 103 [=[cannot load wnaspi32.dll]=])
qm_string(${JA} 103 [=[wnaspi32.dllがロードできませんでした。]=])
qm_string(${EN} 104 [=[cannot get addres of ASPI32SupportInfo()]=])
qm_string(${JA} 104 [=[GetASPI32SupportInfoのアドレスが取得できませんでした。]=])
qm_string(${EN} 105 [=[cannot get address of SendASPI32Command()]=])
qm_string(${JA} 105 [=[SendASPI32Commandのアドレスが取得できませんでした。]=])
qm_string(${EN} 106 [=[cannot get OS type]=])
qm_string(${JA} 106 [=[不明なOSです。]=])
qm_string(${EN} 109 [=[Firmware update completes.\r\nrestart PC.]=])
qm_string(${JA} 109 [=[アップデートが完了しました.。\r\nPCを再起動します。]=])
qm_string(${EN} 112 [=[firmware updater]=])
qm_string(${JA} 112 [=[ファームウェア アップデータ]=])
qm_string(${EN} 113 [=[The use in an improper way may cause the serious obstacle\r\nfor a system.\r\nPlease execute according to the following notes.\r\n\r\n[Notes]\r\n\r\n-Please do not perform operation which makes a computer\r\n a standby state and hibernation or shuts down a power supply\r\n during program execution.\r\n-This function requires administrative rights to execute.\r\n\r\nPlease close all applications before executing this program.\r\n\r\nExecute?]=])
qm_string(${JA} 113 [=[このプログラムの誤った使用はシステムに重大な障害を\r\n起こすことがあります。\r\n下記の注意事項にしたがって実行してください。\r\n\r\n[注意事項]\r\n\r\n－プログラム実行中はシステムをスタンバイや休止状態にしたり\r\n　電源を切る動作を行わないでください\r\n－管理者権限をもつユーザーで実行してください\r\n\r\nこのプログラムを実行する前に\r\n全てのウィンドウおよびアプリケーションを終了してください。\r\n\r\n実行しますか？]=])
qm_string(${EN} 114 [=[firmware file not found]=])
qm_string(${JA} 114 [=[ファームウェアファイルが見つかりません。]=])
qm_string(${EN} 115 [=[please exit windows after closing this firmware updater]=])
qm_string(${JA} 115 [=[アップデートツールを閉じてから、Windowsを終了してください。]=])
qm_string(${EN} 116 [=[Updater failed.\r\nBut if drive name is displayed in [target drive]\r\nplease push [update] button again.]=])
qm_string(${JA} 116 [=[アップデートに失敗しました。\r\n【検出されたドライブ】にドライブ名が表示されている場合は、\r\nもう一度【アップデート開始】ボタンを押してください。]=])
qm_string(${EN} 118 [=[imcompatible firmware file]=])
qm_string(${JA} 118 [=[このドライブに対応していないファームウェアファイルです。]=])
qm_string(${EN} 119 [=[command error occured]=])
qm_string(${JA} 119 [=[コマンドエラーが発生しました。]=])
qm_string(${EN} 120 [=[file open error]=])
qm_string(${JA} 120 [=[ファイルを開けませんでした：]=])
qm_string(${EN} 121 [=[It is unnecessary to update.]=])
qm_string(${JA} 121 [=[ファームウェアは最新です。アップデートの必要はありません。]=])
qm_string(${EN} 122 [=[please wait a second.]=])
qm_string(${JA} 122 [=[もうしばらくお待ちください。]=])
qm_string(${EN} 123 [=[A disc is in the drive.\r\nPlease take the disc out of the drive\r\nand push [update] button again.]=])
qm_string(${JA} 123 [=[ドライブにディスクが入っています。\r\nディスクを取り出してから、\r\n【アップデート開始】ボタンを押してください。]=])
qm_string(${EN} 127 [=[Targets are more than one drive.]=])
qm_string(${JA} 127 [=[このプログラムに対応したDVDドライブが複数接続されています。\r\n対象のドライブを一台だけ接続してください。]=])

# --- 100: about box ------------------------------------------------------------------

foreach(lang ${EN} ${JA})
  if(lang EQUAL ${EN})
    qm_dialog(${lang} 100 270 55 "DS_SETFONT|DS_MODALFRAME|WS_POPUP|WS_CAPTION|WS_SYSMENU" "0"
              9 [=[MS UI Gothic]=] [=[veriosn info firmware updater]=])
    qm_control([=[QUILLMOR.EXE version 1.00]=] -1 STATIC "SS_LEFT|SS_NOPREFIX" 40 10 135 8)
    qm_control([=[Copyright (C) Torvell. For the WKZ4471 drive only.]=] -1 STATIC "SS_LEFT" 40 25 164 8)
  else()
    qm_dialog(${lang} 100 270 55 "DS_SETFONT|DS_MODALFRAME|WS_POPUP|WS_CAPTION|WS_SYSMENU" "0"
              9 [=[MS UI Gothic]=] [=[バージョン情報 ファームウェアアップデータ]=])
    qm_control([=[QUILLMOR.EXE version 1.00]=] -1 STATIC "SS_LEFT|SS_NOPREFIX" 40 10 98 8)
    qm_control([=[Copyright (C) Torvell. 対応ドライブ専用です。]=] -1 STATIC "SS_LEFT" 40 25 164 8)
  endif()
  qm_control([=[OK]=] 1 BUTTON "BS_DEFPUSHBUTTON|WS_GROUP|WS_TABSTOP" 213 6 50 16)
endforeach()

# --- 102: main dialog -------------------------------------------------------------

set(main_style "DS_SETFONT|DS_MODALFRAME|WS_POPUP|WS_VISIBLE|WS_CAPTION|WS_SYSMENU")
qm_dialog(${EN} 102 239 175 ${main_style} "WS_EX_APPWINDOW" 9 [=[MS UI Gothic]=] [=[firmware updater]=])
qm_control([=[]=] 1000 COMBOBOX "CBS_DROPDOWN|CBS_SORT|WS_VSCROLL|WS_TABSTOP" 10 20 195 103)
qm_control([=[update]=] 1002 BUTTON "BS_PUSHBUTTON|WS_TABSTOP" 20 145 80 15)
qm_control([=[close]=] 2 BUTTON "BS_PUSHBUTTON|WS_TABSTOP" 140 145 70 15)
qm_control([=[target device]=] -1 BUTTON "BS_GROUPBOX" 5 10 212 30)
qm_control([=[drive infomation]=] -1 BUTTON "BS_GROUPBOX" 5 50 227 75)
qm_control([=[]=] 1004 STATIC "SS_LEFT" 15 65 185 8)
qm_control([=[firmware version]=] -1 STATIC "SS_LEFT" 15 85 84 8)
qm_control([=[current version]=] -1 STATIC "SS_LEFT" 85 85 63 8)
qm_control([=[following version]=] -1 STATIC "SS_LEFT" 160 85 72 8)
qm_control([=[-->]=] -1 STATIC "SS_LEFT" 142 105 19 8)
qm_control([=[]=] 1005 STATIC "SS_LEFT" 109 105 20 8)
qm_control([=[]=] 1006 STATIC "SS_LEFT" 163 105 25 8)

qm_dialog(${JA} 102 235 175 ${main_style} "WS_EX_APPWINDOW" 9 [=[MS UI Gothic]=] [=[ファームウェア アップデータ]=])
qm_control([=[]=] 1000 COMBOBOX "CBS_DROPDOWN|CBS_SORT|WS_VSCROLL|WS_TABSTOP" 10 20 195 103)
qm_control([=[アップデート開始]=] 1002 BUTTON "BS_PUSHBUTTON|WS_TABSTOP" 20 145 80 15)
qm_control([=[終了]=] 2 BUTTON "BS_PUSHBUTTON|WS_TABSTOP" 140 145 70 15)
qm_control([=[検出されたドライブ]=] -1 BUTTON "BS_GROUPBOX" 5 10 205 30)
qm_control([=[アップデートされるドライブ情報]=] -1 BUTTON "BS_GROUPBOX" 5 50 220 75)
qm_control([=[]=] 1004 STATIC "SS_LEFT" 15 65 185 8)
qm_control([=[ファームウェアバージョン]=] -1 STATIC "SS_LEFT" 15 85 84 8)
qm_control([=[現在]=] -1 STATIC "SS_LEFT" 110 85 30 8)
qm_control([=[アップデート後]=] -1 STATIC "SS_LEFT" 155 85 49 8)
qm_control([=[→]=] -1 STATIC "SS_LEFT" 140 105 15 8)
qm_control([=[]=] 1005 STATIC "SS_LEFT" 110 105 20 8)
qm_control([=[]=] 1006 STATIC "SS_LEFT" 155 105 20 8)

# --- 129: progress indicator ---------------------------------------------------------

set(indicator_style "DS_SETFONT|DS_FIXEDSYS|DS_MODALFRAME|WS_POPUP|WS_CAPTION|WS_SYSMENU")
qm_dialog(${EN} 129 252 101 ${indicator_style} "0" 8 [=[MS Shell Dlg]=] [=[now updating...]=])
qm_control([=[]=] 1007 msctls_progress32 "WS_BORDER" 20 70 210 14)
qm_control([=[now updating...]=] -1 STATIC "SS_LEFT" 55 5 150 8)
qm_control([=[It takes about 34 seconds to update.\r\nPlease wait for a while.]=] -1 STATIC "SS_LEFT" 45 20 170 20)
qm_control([=[34 seconds]=] 1008 STATIC "SS_LEFT" 105 55 110 9)

qm_dialog(${JA} 129 252 101 ${indicator_style} "0" 8 [=[MS Shell Dlg]=] [=[アップデート中です......]=])
qm_control([=[]=] 1007 msctls_progress32 "WS_BORDER" 20 70 210 14)
qm_control([=[ファームウェアをアップデートしています......]=] -1 STATIC "SS_LEFT" 55 5 150 8)
qm_control([=[アップデートが終了するまで約３４秒ほどかかります。\r\nしばらくお待ち下さい。]=] -1 STATIC "SS_LEFT" 45 20 170 20)
qm_control([=[残り34秒]=] 1008 STATIC "SS_LEFT" 105 55 110 9)

# --- 130: hidden unattended dialog ---------------------------------------------------

foreach(lang ${EN} ${JA})
  qm_dialog(${lang} 130 186 90 "DS_SETFONT|DS_MODALFRAME|WS_POPUP|WS_CAPTION|WS_SYSMENU" "0"
            8 [=[MS Shell Dlg]=] [=[Dialog]=])
endforeach()

# --- 128: icon ---------------------------------------------------------------------

qm_icon(128 quillmor.ico)
