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

# The Linux tool's texts: from 2000 on, clear of the strings' numbers, since one
# table holds both.
qm_id(TXT_USAGE 2000 "the synopsis")
qm_id(TXT_HELP 2001)
qm_id(TXT_USAGE_ERROR 2002)
qm_id(TXT_OPTION_EMPTY_VALUE 2003)
qm_id(TXT_OPTION_NEEDS_VALUE 2004)
qm_id(TXT_OPTION_UNKNOWN 2005)
qm_id(TXT_ARGUMENT_UNEXPECTED 2006)
qm_id(TXT_VERBOSE_TWICE 2007)
qm_id(TXT_QUIET_AND_VERBOSE 2008)
qm_id(TXT_CHECK_AND_YES 2009)
qm_id(TXT_UNATTENDED_OPTIONS 2010)
qm_id(TXT_BAD_WAIT 2011)
qm_id(TXT_BAD_SHA256 2012)
qm_id(TXT_BAD_LANG 2013)
qm_id(TXT_BAD_DEVICE 2014)
qm_id(TXT_LOG_NOT_PLAIN 2020)
qm_id(TXT_LOG_UNWRITABLE 2021)
qm_id(TXT_HOLD_NOTE 2022 "said to a signal held back during the update")
qm_id(TXT_UNATTENDED_UPDATED 2023)
qm_id(TXT_UNATTENDED_NOT_UPDATED 2024)
qm_id(TXT_BUSY 2030)
qm_id(TXT_LOCK_FOLDER_SHARED 2031)
qm_id(TXT_IN_USE_MOUNTED 2032)
qm_id(TXT_IN_USE_OPENED 2033)
qm_id(TXT_PROGRESS_LONG 2040 "the progress line's words, as wide as they may be")
qm_id(TXT_PROGRESS_MEDIUM 2041)
qm_id(TXT_PROGRESS_SHORT 2042)
qm_id(TXT_PROGRESS_WRITTEN 2043)
qm_id(TXT_PROGRESS_STOPPED 2044)
qm_id(TXT_NOT_HELD_OFF 2050)
qm_id(TXT_NO_SYSTEM_BUS 2051 "why sleep is not held off")
qm_id(TXT_NO_LOGIND 2052 "why sleep is not held off")
qm_id(TXT_LOGIND_REFUSED 2053 "why sleep is not held off")
qm_id(TXT_SYSTEM_BUS_FAILED 2054 "why sleep is not held off")
qm_id(TXT_NO_LOCK 2055 "why sleep is not held off")
qm_id(TXT_INHIBIT_WHY 2056 "what holds sleep off, for a user who asks (systemd-inhibit --list, a desktop's log-out dialog)")
qm_id(TXT_ASK_YES_NO 2100)
qm_id(TXT_NO_TERMINAL_NO 2101)
qm_id(TXT_PRESS_ENTER 2102)
qm_id(TXT_WHICH_DRIVE 2103)
qm_id(TXT_NO_SUCH_DRIVE 2104)
qm_id(TXT_GO_ON 2105)
qm_id(TXT_UPDATE_QUESTION 2106)
qm_id(TXT_DECLINED 2107)
qm_id(TXT_SENSE_MEANING 2108)
qm_id(TXT_SENSE_WRITE_ERROR 2110 "a sense code's meaning")
qm_id(TXT_SENSE_NO_MEDIUM 2111 "a sense code's meaning")
qm_id(TXT_SENSE_SEQUENCE_ERROR 2112 "a sense code's meaning")
qm_id(TXT_SENSE_NOT_READY 2113 "a sense code's meaning")
qm_id(TXT_SENSE_INVALID_FIELD 2114 "a sense code's meaning")
qm_id(TXT_SENSE_UNSUPPORTED 2115 "a sense code's meaning")
qm_id(TXT_SENSE_RESET 2116 "a sense code's meaning")
qm_id(TXT_IMAGE_CANNOT_OPEN 2120)
qm_id(TXT_IMAGE_CANNOT_READ 2121)
qm_id(TXT_IMAGE_UNREADABLE 2122)
qm_id(TXT_IMAGE_NOT_GIVEN 2123)
qm_id(TXT_NOTHING_DONE 2124 "the end of a sentence")
qm_id(TXT_NOTHING_WRITTEN_TO_DRIVE 2125 "the end of a sentence")
qm_id(TXT_OUT_OF_MEMORY 2126)
qm_id(TXT_PERMISSION_DENIED 2140)
qm_id(TXT_NO_DRIVE_FREE 2141)
qm_id(TXT_NOT_THE_DRIVE 2142)
qm_id(TXT_NO_OPTICAL_DRIVE 2143)
qm_id(TXT_NO_DRIVE_FOUND 2144)
qm_id(TXT_SEVERAL_DRIVES 2145)
qm_id(TXT_DRIVES_FOUND 2146)
qm_id(TXT_DRIVE_FOUND 2147)
qm_id(TXT_CANNOT_OPEN_DRIVE 2148)
qm_id(TXT_NEEDS_ROOT 2149)
qm_id(TXT_REVISION_UNTOLD 2150)
qm_id(TXT_DRIVE_CHANGED 2151)
qm_id(TXT_CHANGED_NO_ANSWER 2152)
qm_id(TXT_CHANGED_INQUIRY 2153)
qm_id(TXT_CHANGED_IDENTIFICATION 2154)
qm_id(TXT_NO_REVISION 2155)
qm_id(TXT_CHECK_REPORT 2160)
qm_id(TXT_UNREADABLE 2161)
qm_id(TXT_DECISION_CANNOT_TELL 2162)
qm_id(TXT_DECISION_INCOMPATIBLE 2163)
qm_id(TXT_DECISION_NOT_GIVEN 2164)
qm_id(TXT_DECISION_NOT_NEWER 2165)
qm_id(TXT_DECISION_WRITE_AGAIN 2166)
qm_id(TXT_DECISION_NEWER 2167)
qm_id(TXT_DECISION_HALF_WRITTEN 2168)
qm_id(TXT_DECISION_UNHELD 2169)
qm_id(TXT_NOTHING_TO_DO 2180)
qm_id(TXT_DISC_IN_DRIVE 2181)
qm_id(TXT_DRIVE_FIRMWARE 2182)
qm_id(TXT_UPDATED 2183)
qm_id(TXT_STILL_OLD 2184)
qm_id(TXT_NOT_CONFIRMED 2185)
qm_id(TXT_FAILED_OTHER_REVISION 2186)
qm_id(TXT_FAILED_UNTOLD 2187)
qm_id(TXT_NOT_STARTED_NO_ANSWER 2188)
qm_id(TXT_NOT_STARTED_IMAGE 2189)
qm_id(TXT_FAILED_NO_FIRMWARE 2190)
qm_id(TXT_FAILED_KEPT 2191)
qm_id(TXT_NO_FIRMWARE 2192)
qm_id(TXT_NOT_STARTED_UNHELD 2193)

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

# --- Texts of the Linux tool ------------------------------------------------------

# The command line. The help's lines fit 80 columns; a Japanese character takes two.
qm_text(${EN} TXT_USAGE [=[Usage: quillmor [-h] [-V] [-d /dev/srN] [-i IMAGE] [--sha256 HEX] [-y | --check]\n                [--json] [--wait SECONDS] [--log FILE] [-q | -v] [--lang en|ja]]=])
qm_text(${JA} TXT_USAGE [=[Usage: quillmor [-h] [-V] [-d /dev/srN] [-i IMAGE] [--sha256 HEX] [-y | --check]\n                [--json] [--wait SECONDS] [--log FILE] [-q | -v] [--lang en|ja]]=])
qm_text(${EN} TXT_HELP [=[
{1}
Updates the firmware of a TORVELL DVD-RW WKZ4471 drive.

  -h, --help          show this help and exit
  -V, --version       show the version and exit
  -d, --device DEV    use only this drive (/dev/srN)
  -i, --image PATH    the firmware image (default: Q5518306.707 here)
      --sha256 HEX    refuse an image whose SHA-256 is not HEX (64 hex digits)
  -y, --yes           ask no questions: update if the image is newer
      --check         check the drive and the image, and write nothing
      --json          print the result as one JSON object (see the manual)
      --wait SECONDS  after writing, how long to wait for the drive to answer
                      with its new firmware (default 60)
      --log FILE      record every drive command and decision in FILE
  -q, --quiet         print errors and the result only (no progress)
  -v, --verbose       print every drive command to standard error as it
                      completes (command bytes, direction and length, status,
                      sense, bytes moved and residual)
      --lang en|ja    language of the messages (default: from the locale)
  /au                 the Windows program's unattended run (exit 0 updated,
                      1 otherwise)

Exit codes: 0 updated and confirmed (--check: an update is possible), 1 the
update failed, 2 usage, 3 nothing to do, 4 drive not found or not readable,
5 image missing or incompatible, 6 another updater runs or the drive is in use,
7 declined, 8 the drive still reports its old firmware, 9 written but not
confirmed: the drive did not answer in time, 10 the drive changed after it was
checked (nothing written).
]=])
qm_text(${JA} TXT_HELP [=[
{1}
TORVELL DVD-RW WKZ4471 ドライブのファームウェアを更新します。

  -h, --help          このヘルプを表示して終了
  -V, --version       バージョンを表示して終了
  -d, --device DEV    このドライブ (/dev/srN) だけを使う
  -i, --image PATH    ファームウェアイメージ (既定: カレントディレクトリの
                      Q5518306.707)
      --sha256 HEX    SHA-256 が HEX (16 進 64 桁) でないイメージは使わない
  -y, --yes           確認なしで更新 (イメージが新しいとき)
      --check         ドライブとイメージを確認し、何も書き込まない
      --json          結果を 1 つの JSON オブジェクトで出力 (マニュアル参照)
      --wait SECONDS  書き込み後、ドライブが新しいファームウェアで応答するのを
                      待つ時間 (既定 60)
      --log FILE      ドライブへのコマンドと判定をすべて FILE に記録
  -q, --quiet         エラーと結果だけを表示 (進行状況なし)
  -v, --verbose       ドライブへのコマンドを完了ごとに標準エラーに表示
      --lang en|ja    メッセージの言語 (既定: ロケールから)
  /au                 Windows 版の無人実行 (更新したら 0、それ以外は 1)

終了コード: 0 更新して確認済み (--check: 更新できる)、1 更新失敗、2 使い方の
誤り、3 更新不要、4 ドライブが見つからないか読めない、5 イメージがないか
非互換、6 別のアップデータが実行中かドライブが使用中、7 取りやめ、8 ドライブは
古いファームウェアのまま、9 書き込んだが確認できない、10 確認後にドライブが
変わった (何も書き込んでいない)。
]=])
qm_text(${EN} TXT_USAGE_ERROR [=[quillmor: {1}\n{2}\nTry 'quillmor --help'.]=])
qm_text(${JA} TXT_USAGE_ERROR [=[quillmor: {1}\n{2}\n使い方は 'quillmor --help' で表示できます。]=])
qm_text(${EN} TXT_OPTION_EMPTY_VALUE [=[option {1} needs a value, not an empty one]=])
qm_text(${JA} TXT_OPTION_EMPTY_VALUE [=[オプション {1} には空でない値が必要です]=])
qm_text(${EN} TXT_OPTION_NEEDS_VALUE [=[option {1} needs a value]=])
qm_text(${JA} TXT_OPTION_NEEDS_VALUE [=[オプション {1} には値が必要です]=])
qm_text(${EN} TXT_OPTION_UNKNOWN [=[unknown option {1}]=])
qm_text(${JA} TXT_OPTION_UNKNOWN [=[不明なオプションです: {1}]=])
qm_text(${EN} TXT_ARGUMENT_UNEXPECTED [=[unexpected argument '{1}']=])
qm_text(${JA} TXT_ARGUMENT_UNEXPECTED [=[余分な引数です: '{1}']=])
qm_text(${EN} TXT_VERBOSE_TWICE [=[-v (--verbose) may be given once]=])
qm_text(${JA} TXT_VERBOSE_TWICE [=[-v (--verbose) は 1 回だけ指定できます]=])
qm_text(${EN} TXT_QUIET_AND_VERBOSE [=[-q (--quiet) and -v (--verbose) ask for opposite things: give one]=])
qm_text(${JA} TXT_QUIET_AND_VERBOSE [=[-q (--quiet) と -v (--verbose) は逆の指定です。どちらか一方だけを指定してください]=])
qm_text(${EN} TXT_CHECK_AND_YES [=[--check writes nothing and asks nothing: it does not go with --yes]=])
qm_text(${JA} TXT_CHECK_AND_YES [=[--check は何も書き込まず何も尋ねないため、--yes とは併用できません]=])
qm_text(${EN} TXT_UNATTENDED_OPTIONS [=[/au takes the image from the current directory and goes with --device, --log and --lang only]=])
qm_text(${JA} TXT_UNATTENDED_OPTIONS [=[/au はカレントディレクトリのイメージを使います。併用できるのは --device、--log、--lang だけです]=])
qm_text(${EN} TXT_BAD_WAIT [=[--wait takes whole seconds from 0 to {1}, not '{2}']=])
qm_text(${JA} TXT_BAD_WAIT [=[--wait には 0 から {1} までの秒数を整数で指定してください ('{2}' は使えません)]=])
qm_text(${EN} TXT_BAD_SHA256 [=[--sha256 takes the image's SHA-256 as 64 hex digits, not '{1}']=])
qm_text(${JA} TXT_BAD_SHA256 [=[--sha256 にはイメージの SHA-256 を 16 進 64 桁で指定してください ('{1}' は使えません)]=])
qm_text(${EN} TXT_BAD_LANG [=[--lang takes en or ja, not '{1}']=])
qm_text(${JA} TXT_BAD_LANG [=[--lang には en か ja を指定してください ('{1}' は使えません)]=])
qm_text(${EN} TXT_BAD_DEVICE [=[--device takes an optical drive: /dev/sr0 to /dev/sr23, its /dev/sgN, or a link to one (/dev/cdrom, /dev/disk/by-id/...); '{1}' is none of them]=])
qm_text(${JA} TXT_BAD_DEVICE [=[--device には光学ドライブを指定してください: /dev/sr0 〜 /dev/sr23、その /dev/sgN、またはそれへのリンク (/dev/cdrom、/dev/disk/by-id/...)。'{1}' はどれでもありません]=])

# The log, a held signal, the unattended run's last line.
qm_text(${EN} TXT_LOG_NOT_PLAIN [=[quillmor: the log {1} is not a plain file of yours (a symbolic link, not a regular file, or another user's); nothing was done.]=])
qm_text(${JA} TXT_LOG_NOT_PLAIN [=[quillmor: ログ {1} は自分の通常ファイルではありません (シンボリックリンク、通常ファイル以外、または他のユーザのファイル)。何も行いませんでした。]=])
qm_text(${EN} TXT_LOG_UNWRITABLE [=[quillmor: cannot write the log {1}: {2}; nothing was done.]=])
qm_text(${JA} TXT_LOG_UNWRITABLE [=[quillmor: ログ {1} に書き込めません: {2}。何も行いませんでした。]=])
qm_text(${EN} TXT_HOLD_NOTE [=[\nquillmor: the firmware is being written to the drive; the update cannot be interrupted. quillmor ends once it has reported and logged the outcome.\n]=])
qm_text(${JA} TXT_HOLD_NOTE [=[\nquillmor: ファームウェアをドライブに書き込み中です。更新は中断できません。結果を表示して記録した後に終了します。\n]=])
qm_text(${EN} TXT_UNATTENDED_UPDATED [=[quillmor /au: updated (exit code 0).]=])
qm_text(${JA} TXT_UNATTENDED_UPDATED [=[quillmor /au: 更新しました (終了コード 0)。]=])
qm_text(${EN} TXT_UNATTENDED_NOT_UPDATED [=[quillmor /au: not updated (exit code 1).]=])
qm_text(${JA} TXT_UNATTENDED_NOT_UPDATED [=[quillmor /au: 更新していません (終了コード 1)。]=])

# Another updater, a drive in use.
qm_text(${EN} TXT_BUSY [=[quillmor: another firmware updater is running; nothing was done.]=])
qm_text(${JA} TXT_BUSY [=[quillmor: 別のファームウェアアップデータが実行中です。何も行いませんでした。]=])
qm_text(${EN} TXT_LOCK_FOLDER_SHARED [=[quillmor: the lock folder {1} is not yours alone (it must be owned by you, mode 0700, not a link); nothing was done.]=])
qm_text(${JA} TXT_LOCK_FOLDER_SHARED [=[quillmor: ロック用フォルダ {1} は自分専用ではありません (所有者が自分、モード 0700、リンクでないこと)。何も行いませんでした。]=])
qm_text(${EN} TXT_IN_USE_MOUNTED [=[quillmor: the drive {1} is in use (mounted); it is left as it is.]=])
qm_text(${JA} TXT_IN_USE_MOUNTED [=[quillmor: ドライブ {1} は使用中です (マウントされています)。そのままにしておきます。]=])
qm_text(${EN} TXT_IN_USE_OPENED [=[quillmor: the drive {1} is in use (opened by another updater or program); it is left as it is.]=])
qm_text(${JA} TXT_IN_USE_OPENED [=[quillmor: ドライブ {1} は使用中です (別のアップデータかプログラムが開いています)。そのままにしておきます。]=])

# The progress line after its bar, longest first ({1} of {2} blocks, {3} bytes,
# {4} elapsed, {5} left), and its last line.
qm_text(${EN} TXT_PROGRESS_LONG [=[ block {1} of {2}  {3} bytes  {4} elapsed  {5} left]=])
qm_text(${JA} TXT_PROGRESS_LONG [=[ ブロック {1}/{2}  {3} バイト  経過 {4}  残り約 {5}]=])
qm_text(${EN} TXT_PROGRESS_MEDIUM [=[ block {1} of {2}  {3} elapsed  {4} left]=])
qm_text(${JA} TXT_PROGRESS_MEDIUM [=[ ブロック {1}/{2}  経過 {3}  残り約 {4}]=])
qm_text(${EN} TXT_PROGRESS_SHORT [=[ {1}/{2}  {3} left]=])
qm_text(${JA} TXT_PROGRESS_SHORT [=[ {1}/{2}  残り {3}]=])
qm_text(${EN} TXT_PROGRESS_WRITTEN [=[written: block {1} of {2}, {3} bytes, in {4}]=])
qm_text(${JA} TXT_PROGRESS_WRITTEN [=[{1}/{2} ブロック ({3} バイト) を書き込みました ({4})]=])
qm_text(${EN} TXT_PROGRESS_STOPPED [=[stopped: block {1} of {2} accepted, {3} bytes, after {4}]=])
qm_text(${JA} TXT_PROGRESS_STOPPED [=[{1}/{2} ブロック ({3} バイト) で停止しました ({4})]=])

# Sleep and shutdown not held off during the update; {1} is why, one of the texts
# after it.
qm_text(${EN} TXT_NOT_HELD_OFF [=[quillmor: warning: sleep and shutdown are not held off during the update ({1}); keep the computer running until the update has ended.]=])
qm_text(${JA} TXT_NOT_HELD_OFF [=[quillmor: 警告: 更新中のスリープとシャットダウンを止められません ({1})。更新が終わるまでコンピュータを動かしたままにしてください。]=])
qm_text(${EN} TXT_NO_SYSTEM_BUS [=[no system bus: {1}]=])
qm_text(${JA} TXT_NO_SYSTEM_BUS [=[システムバスがありません: {1}]=])
qm_text(${EN} TXT_NO_LOGIND [=[no systemd-logind on the system bus]=])
qm_text(${JA} TXT_NO_LOGIND [=[システムバスに systemd-logind がありません]=])
qm_text(${EN} TXT_LOGIND_REFUSED [=[systemd-logind refused: {1}]=])
qm_text(${JA} TXT_LOGIND_REFUSED [=[systemd-logind が拒否しました: {1}]=])
qm_text(${EN} TXT_SYSTEM_BUS_FAILED [=[system bus: {1}]=])
qm_text(${JA} TXT_SYSTEM_BUS_FAILED [=[システムバス: {1}]=])
qm_text(${EN} TXT_NO_LOCK [=[no lock in systemd-logind's answer]=])
qm_text(${JA} TXT_NO_LOCK [=[systemd-logind の応答にロックがありません]=])
qm_text(${EN} TXT_INHIBIT_WHY [=[Writing the DVD-RW drive's firmware: cut off, the drive may not start again]=])
qm_text(${JA} TXT_INHIBIT_WHY [=[DVD-RW ドライブのファームウェアを書き込み中です。中断するとドライブが起動しなくなることがあります]=])

# Questions and answers.
qm_text(${EN} TXT_ASK_YES_NO [=[{1} [y/N] ]=])
qm_text(${JA} TXT_ASK_YES_NO [=[{1} [y/N] (はい=y) ]=])
qm_text(${EN} TXT_NO_TERMINAL_NO [=[{1} No (no terminal to answer; --yes answers for you)]=])
qm_text(${JA} TXT_NO_TERMINAL_NO [=[{1} いいえ (応答できる端末がありません。--yes で応答なしに実行できます)]=])
qm_text(${EN} TXT_PRESS_ENTER [=[Press Enter to go on. ]=])
qm_text(${JA} TXT_PRESS_ENTER [=[Enter キーを押すと続行します。]=])
qm_text(${EN} TXT_WHICH_DRIVE [=[Which drive? Type its number or its device: ]=])
qm_text(${JA} TXT_WHICH_DRIVE [=[どのドライブですか? 番号かデバイス名を入力してください: ]=])
qm_text(${EN} TXT_NO_SUCH_DRIVE [=[No such drive in the list.]=])
qm_text(${JA} TXT_NO_SUCH_DRIVE [=[一覧にないドライブです。]=])
qm_text(${EN} TXT_GO_ON [=[Go on?]=])
qm_text(${JA} TXT_GO_ON [=[続行しますか?]=])
qm_text(${EN} TXT_UPDATE_QUESTION [=[Update the firmware of {1} from {2} to {3}?]=])
qm_text(${JA} TXT_UPDATE_QUESTION [=[ファームウェアを更新しますか: {1} {2} --> {3}?]=])
qm_text(${EN} TXT_DECLINED [=[Nothing was done: you did not say yes.]=])
qm_text(${JA} TXT_DECLINED [=[何も行いませんでした (「はい」と答えなかったため)。]=])
qm_text(${EN} TXT_SENSE_MEANING [=[Sense meaning: {1}]=])
qm_text(${JA} TXT_SENSE_MEANING [=[センスの意味: {1}]=])
qm_text(${EN} TXT_SENSE_WRITE_ERROR [=[write error]=])
qm_text(${JA} TXT_SENSE_WRITE_ERROR [=[書き込みエラー]=])
qm_text(${EN} TXT_SENSE_NO_MEDIUM [=[no medium]=])
qm_text(${JA} TXT_SENSE_NO_MEDIUM [=[ディスクがありません]=])
qm_text(${EN} TXT_SENSE_SEQUENCE_ERROR [=[command sequence error]=])
qm_text(${JA} TXT_SENSE_SEQUENCE_ERROR [=[コマンドの順序エラー]=])
qm_text(${EN} TXT_SENSE_NOT_READY [=[the drive is not ready]=])
qm_text(${JA} TXT_SENSE_NOT_READY [=[ドライブの準備ができていません]=])
qm_text(${EN} TXT_SENSE_INVALID_FIELD [=[invalid field in the command]=])
qm_text(${JA} TXT_SENSE_INVALID_FIELD [=[コマンドの値が不正です]=])
qm_text(${EN} TXT_SENSE_UNSUPPORTED [=[command not supported]=])
qm_text(${JA} TXT_SENSE_UNSUPPORTED [=[対応していないコマンドです]=])
qm_text(${EN} TXT_SENSE_RESET [=[the drive was reset]=])
qm_text(${JA} TXT_SENSE_RESET [=[ドライブがリセットされました]=])

# The image, before any drive is asked.
qm_text(${EN} TXT_IMAGE_CANNOT_OPEN [=[quillmor: cannot open the image {1}: {2}; nothing was done.]=])
qm_text(${JA} TXT_IMAGE_CANNOT_OPEN [=[quillmor: イメージを開けません: {1}: {2}。何も行いませんでした。]=])
qm_text(${EN} TXT_IMAGE_CANNOT_READ [=[quillmor: cannot read the image {1}: {2}; nothing was done.]=])
qm_text(${JA} TXT_IMAGE_CANNOT_READ [=[quillmor: イメージを読めません: {1}: {2}。何も行いませんでした。]=])
qm_text(${EN} TXT_IMAGE_UNREADABLE [=[quillmor: cannot read the image {1}; {2}]=])
qm_text(${JA} TXT_IMAGE_UNREADABLE [=[quillmor: イメージを読めません: {1}。{2}]=])
qm_text(${EN} TXT_IMAGE_NOT_GIVEN [=[quillmor: the image {1} has SHA-256 {2}, not the {3} given with --sha256; {4}]=])
qm_text(${JA} TXT_IMAGE_NOT_GIVEN [=[quillmor: イメージ {1} の SHA-256 は {2} で、--sha256 で指定された {3} ではありません。{4}]=])
qm_text(${EN} TXT_NOTHING_DONE [=[nothing was done.]=])
qm_text(${JA} TXT_NOTHING_DONE [=[何も行いませんでした。]=])
qm_text(${EN} TXT_NOTHING_WRITTEN_TO_DRIVE [=[nothing was written to the drive.]=])
qm_text(${JA} TXT_NOTHING_WRITTEN_TO_DRIVE [=[ドライブには何も書き込んでいません。]=])
qm_text(${EN} TXT_OUT_OF_MEMORY [=[quillmor: out of memory; nothing was done.]=])
qm_text(${JA} TXT_OUT_OF_MEMORY [=[quillmor: メモリが足りません。何も行いませんでした。]=])

# Finding the drive, opening it, and a drive that changed before the update.
qm_text(${EN} TXT_PERMISSION_DENIED [=[quillmor: {1}: permission denied (run as root, or as a member of the group that owns it, usually cdrom)]=])
qm_text(${JA} TXT_PERMISSION_DENIED [=[quillmor: {1}: アクセスが拒否されました (root か、デバイスを所有するグループ (通常は cdrom) のユーザで実行してください)]=])
qm_text(${EN} TXT_NO_DRIVE_FREE [=[quillmor: no drive is free to update; nothing was done.]=])
qm_text(${JA} TXT_NO_DRIVE_FREE [=[quillmor: 更新できる空いたドライブがありません。何も行いませんでした。]=])
qm_text(${EN} TXT_NOT_THE_DRIVE [=[{1} is not a TORVELL DVD-RW WKZ4471, or it does not answer.]=])
qm_text(${JA} TXT_NOT_THE_DRIVE [=[{1} は TORVELL DVD-RW WKZ4471 ではないか、応答しません。]=])
qm_text(${EN} TXT_NO_OPTICAL_DRIVE [=[quillmor: no TORVELL DVD-RW WKZ4471 found: there is no optical drive (/dev/sr0 to /dev/sr23) to ask.]=])
qm_text(${JA} TXT_NO_OPTICAL_DRIVE [=[quillmor: TORVELL DVD-RW WKZ4471 が見つかりません: 調べられる光学ドライブ (/dev/sr0 〜 /dev/sr23) がありません。]=])
qm_text(${EN} TXT_NO_DRIVE_FOUND [=[quillmor: no TORVELL DVD-RW WKZ4471 found; asked twice, 3.5 s apart: {1} (another model, or no answer).]=])
qm_text(${JA} TXT_NO_DRIVE_FOUND [=[quillmor: TORVELL DVD-RW WKZ4471 が見つかりません。3.5 秒おいて 2 回調べました: {1} (別の機種か、応答なし)。]=])
qm_text(${EN} TXT_SEVERAL_DRIVES [=[quillmor: more than one TORVELL DVD-RW WKZ4471 found; name one with --device:]=])
qm_text(${JA} TXT_SEVERAL_DRIVES [=[quillmor: TORVELL DVD-RW WKZ4471 が複数見つかりました。--device で 1 台を指定してください:]=])
qm_text(${EN} TXT_DRIVES_FOUND [=[Drives found:]=])
qm_text(${JA} TXT_DRIVES_FOUND [=[見つかったドライブ:]=])
qm_text(${EN} TXT_DRIVE_FOUND [=[Drive found:]=])
qm_text(${JA} TXT_DRIVE_FOUND [=[見つかったドライブ:]=])
qm_text(${EN} TXT_CANNOT_OPEN_DRIVE [=[quillmor: cannot open {1}: {2} (run as root, or as a member of the cdrom group)]=])
qm_text(${JA} TXT_CANNOT_OPEN_DRIVE [=[quillmor: 開けません: {1}: {2} (root か cdrom グループのユーザで実行してください)]=])
qm_text(${EN} TXT_NEEDS_ROOT [=[quillmor: writing firmware to {1} needs root: the kernel passes WRITE BUFFER only to a process with CAP_SYS_RAWIO. Run it with sudo (quillmor --check needs no more than the cdrom group). Nothing was sent.]=])
qm_text(${JA} TXT_NEEDS_ROOT [=[quillmor: {1} へのファームウェアの書き込みには root 権限が必要です (WRITE BUFFER には CAP_SYS_RAWIO が必要です)。sudo で実行してください (quillmor --check は cdrom グループで実行できます)。何も送信していません。]=])
qm_text(${EN} TXT_REVISION_UNTOLD [=[quillmor: the drive {1} did not tell its firmware revision (its INQUIRY reply failed or stopped before it); nothing was written.]=])
qm_text(${JA} TXT_REVISION_UNTOLD [=[quillmor: ドライブ {1} のファームウェアのリビジョンを読めませんでした (INQUIRY の応答が失敗したか、途中で切れました)。何も書き込んでいません。]=])
qm_text(${EN} TXT_DRIVE_CHANGED [=[quillmor: the drive {1} changed after it was checked ({2}). Nothing was written; run quillmor again to check it afresh.]=])
qm_text(${JA} TXT_DRIVE_CHANGED [=[quillmor: ドライブ {1} は確認後に変わりました ({2})。何も書き込んでいません。もう一度 quillmor を実行して確認し直してください。]=])
qm_text(${EN} TXT_CHANGED_NO_ANSWER [=[it does not answer now]=])
qm_text(${JA} TXT_CHANGED_NO_ANSWER [=[現在は応答しません]=])
qm_text(${EN} TXT_CHANGED_INQUIRY [=[it was {1}, it is now {2}]=])
qm_text(${JA} TXT_CHANGED_INQUIRY [=[確認時は {1}、現在は {2}]=])
qm_text(${EN} TXT_CHANGED_IDENTIFICATION [=[its identification block is not the one checked]=])
qm_text(${JA} TXT_CHANGED_IDENTIFICATION [=[識別ブロックが確認時と異なります]=])
qm_text(${EN} TXT_NO_REVISION [=[no revision]=])
qm_text(${JA} TXT_NO_REVISION [=[リビジョンなし]=])

# The --check report: the drive's line, the image's line, the image's SHA-256 and
# the decision, whose further lines are indented as the report's English is.
qm_text(${EN} TXT_CHECK_REPORT [=[
Drive:    {1}
Image:    {2}
SHA-256:  {3}
Decision: {4}
Nothing was written to the drive.
]=])
qm_text(${JA} TXT_CHECK_REPORT [=[
ドライブ:   {1}
イメージ:   {2}
SHA-256:    {3}
判定:       {4}
ドライブには何も書き込んでいません。
]=])
qm_text(${EN} TXT_UNREADABLE [=[unreadable]=])
qm_text(${JA} TXT_UNREADABLE [=[読めません]=])
qm_text(${EN} TXT_DECISION_CANNOT_TELL [=[cannot tell: the drive's identification could not be read]=])
qm_text(${JA} TXT_DECISION_CANNOT_TELL [=[判定できません: ドライブの識別情報を読めませんでした]=])
qm_text(${EN} TXT_DECISION_INCOMPATIBLE [=[incompatible: the image does not belong to this drive, or is too short]=])
qm_text(${JA} TXT_DECISION_INCOMPATIBLE [=[非互換: このドライブ用のイメージではないか、長さが足りません]=])
qm_text(${EN} TXT_DECISION_NOT_GIVEN [=[not the image given: its SHA-256 is not the {1} given with --sha256]=])
qm_text(${JA} TXT_DECISION_NOT_GIVEN [=[指定のイメージではありません: SHA-256 が --sha256 の {1} と異なります]=])
qm_text(${EN} TXT_DECISION_NOT_NEWER [=[not newer: the drive already has this firmware or a newer one]=])
qm_text(${JA} TXT_DECISION_NOT_NEWER [=[更新不要: ドライブのファームウェアは同じか新しいものです]=])
qm_text(${EN} TXT_DECISION_WRITE_AGAIN [=[write again: the drive holds no valid firmware (an earlier update stopped half-way).\n          Do not power it off; write the image again with quillmor (or quillmor --yes).]=])
qm_text(${JA} TXT_DECISION_WRITE_AGAIN [=[再書き込み: ドライブには有効なファームウェアがありません (以前の更新が途中で止まりました)。\n          電源を切らずに、quillmor (または quillmor --yes) でイメージをもう一度書き込んでください。]=])
qm_text(${EN} TXT_DECISION_UNHELD [=[unreadable: the image could not be read again and held for the check]=])
qm_text(${JA} TXT_DECISION_UNHELD [=[読めません: 確認のためにイメージをもう一度読み込んで保持できませんでした]=])
qm_text(${EN} TXT_DECISION_NEWER [=[newer: the image may be written to this drive]=])
qm_text(${JA} TXT_DECISION_NEWER [=[新しい: このドライブに書き込めます]=])
qm_text(${EN} TXT_DECISION_HALF_WRITTEN [=[\n          The drive holds no valid firmware (an earlier update stopped half-way): do not power it off.]=])
qm_text(${JA} TXT_DECISION_HALF_WRITTEN [=[\n          ドライブには有効なファームウェアがありません (以前の更新が途中で止まりました)。電源を切らないでください。]=])

# The update and its outcome.
qm_text(${EN} TXT_NOTHING_TO_DO [=[Nothing to do: {1} has firmware {2} ({3}); the image's {4} ({5}) is not newer. Nothing was written.]=])
qm_text(${JA} TXT_NOTHING_TO_DO [=[更新不要: {1} のファームウェアは {2} ({3}) で、イメージの {4} ({5}) は新しくありません。何も書き込んでいません。]=])
qm_text(${EN} TXT_DISC_IN_DRIVE [=[A disc is in the drive. The update opens the tray first: take the disc out then, and leave the tray open until the update has ended.]=])
qm_text(${JA} TXT_DISC_IN_DRIVE [=[ドライブにディスクが入っています。更新では最初にトレイが開きます。そのときにディスクを取り出し、更新が終わるまでトレイは開けたままにしてください。]=])
qm_text(${EN} TXT_DRIVE_FIRMWARE [=[Drive {1}  {2}: firmware {3} --> {4}]=])
qm_text(${JA} TXT_DRIVE_FIRMWARE [=[ドライブ {1}  {2}: ファームウェア {3} --> {4}]=])
qm_text(${EN} TXT_UPDATED [=[The firmware was updated: {1} now reports revision {2}.\nRestart the computer before you use the drive.]=])
qm_text(${JA} TXT_UPDATED [=[ファームウェアを更新しました: {1} の現在のリビジョンは {2} です。\nドライブを使う前にコンピュータを再起動してください。]=])
qm_text(${EN} TXT_STILL_OLD [=[The update failed: {1} still reports its old firmware {2}, not the image's {3}. Its firmware is as it was. Check the drive and the image with quillmor --check, then run quillmor again.]=])
qm_text(${JA} TXT_STILL_OLD [=[更新に失敗しました: {1} は古いファームウェア {2} のままで、イメージの {3} になっていません。ファームウェアは元のままです。quillmor --check でドライブとイメージを確認し、quillmor をもう一度実行してください。]=])
qm_text(${EN} TXT_NOT_CONFIRMED [=[The firmware was written, but {1} did not answer within {2} seconds, so the update is not confirmed. Power the drive off and on, then run quillmor --check to see its revision.]=])
qm_text(${JA} TXT_NOT_CONFIRMED [=[ファームウェアを書き込みましたが、{1} は {2} 秒以内に応答しなかったため、更新を確認できません。ドライブの電源を入れ直してから、quillmor --check でリビジョンを確認してください。]=])
qm_text(${EN} TXT_FAILED_OTHER_REVISION [=[The update failed: {1} reports revision {2}, not the image's {3}.]=])
qm_text(${JA} TXT_FAILED_OTHER_REVISION [=[更新に失敗しました: {1} のリビジョンは {2} で、イメージの {3} ではありません。]=])
qm_text(${EN} TXT_FAILED_UNTOLD [=[The update failed: {1} did not tell its revision and date whole.]=])
qm_text(${JA} TXT_FAILED_UNTOLD [=[更新に失敗しました: {1} はリビジョンと日付を正しく返しませんでした。]=])
qm_text(${EN} TXT_NOT_STARTED_NO_ANSWER [=[The update did not start: {1} did not answer the check of its identification. Nothing was written; check the drive and its connection, then run quillmor again.]=])
qm_text(${JA} TXT_NOT_STARTED_NO_ANSWER [=[更新を始めませんでした: {1} は識別情報の確認に応答しませんでした。何も書き込んでいません。ドライブと接続を確かめてから、quillmor をもう一度実行してください。]=])
qm_text(${EN} TXT_NOT_STARTED_IMAGE [=[The update did not start: the image {1} is not for this drive, or is too short. Nothing was written to {2}.]=])
qm_text(${JA} TXT_NOT_STARTED_IMAGE [=[更新を始めませんでした: イメージ {1} はこのドライブ用ではないか、長さが足りません。{2} には何も書き込んでいません。]=])
qm_text(${EN} TXT_NOT_STARTED_UNHELD [=[The update did not start: the image {1} could not be read again and held for the update. Nothing was written to {2}; check that the file is still there, then run quillmor again.]=])
qm_text(${JA} TXT_NOT_STARTED_UNHELD [=[更新を始めませんでした: イメージ {1} をもう一度読み込んで更新用に保持できませんでした。{2} には何も書き込んでいません。ファイルがそのままあるか確かめてから、quillmor をもう一度実行してください。]=])
qm_text(${EN} TXT_FAILED_NO_FIRMWARE [=[The update failed. {1}]=])
qm_text(${JA} TXT_FAILED_NO_FIRMWARE [=[更新に失敗しました。{1}]=])
qm_text(${EN} TXT_FAILED_KEPT [=[The update failed: {1} kept the firmware it had; nothing of the image took effect. Check the drive and the image with quillmor --check, then run quillmor again.]=])
qm_text(${JA} TXT_FAILED_KEPT [=[更新に失敗しました: {1} のファームウェアは元のままで、イメージは反映されていません。quillmor --check でドライブとイメージを確認し、quillmor をもう一度実行してください。]=])
qm_text(${EN} TXT_NO_FIRMWARE [=[WARNING: the drive {1} was left in download mode or half-written: it has no valid firmware now.\nDo not power off or restart the computer. Run quillmor again to write the image.]=])
qm_text(${JA} TXT_NO_FIRMWARE [=[警告: ドライブ {1} はダウンロードモードのまま、または書き込み途中で止まっています。現在、有効なファームウェアがありません。\n電源を切ったり、コンピュータを再起動したりしないでください。quillmor をもう一度実行して書き込んでください。]=])

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
