# Turns resources.cmake into the header of named ids (IDS_OUT), the Windows
# resource script (RC_OUT) and the C++ tables of the Linux build (CPP_OUT). Run as:
#   cmake -DSRC=resources.cmake -DIDS_OUT=... -DRC_OUT=... -DCPP_OUT=... -DRES_DIR=... -P generate.cmake
cmake_minimum_required(VERSION 3.20)

# Win32 values of the style names the templates use, for the C++ tables.
set(QM_STYLE_0 0)
set(QM_STYLE_WS_POPUP 0x80000000)
set(QM_STYLE_WS_CHILD 0x40000000)
set(QM_STYLE_WS_VISIBLE 0x10000000)
set(QM_STYLE_WS_DISABLED 0x08000000)
set(QM_STYLE_WS_CAPTION 0x00C00000)
set(QM_STYLE_WS_BORDER 0x00800000)
set(QM_STYLE_WS_VSCROLL 0x00200000)
set(QM_STYLE_WS_SYSMENU 0x00080000)
set(QM_STYLE_WS_GROUP 0x00020000)
set(QM_STYLE_WS_TABSTOP 0x00010000)
set(QM_STYLE_WS_EX_APPWINDOW 0x00040000)
set(QM_STYLE_DS_MODALFRAME 0x80)
set(QM_STYLE_DS_SETFONT 0x40)
set(QM_STYLE_DS_FIXEDSYS 0x08)
set(QM_STYLE_BS_PUSHBUTTON 0x0)
set(QM_STYLE_BS_DEFPUSHBUTTON 0x1)
set(QM_STYLE_BS_GROUPBOX 0x7)
set(QM_STYLE_SS_LEFT 0x0)
set(QM_STYLE_SS_NOPREFIX 0x80)
set(QM_STYLE_CBS_DROPDOWN 0x2)
set(QM_STYLE_CBS_SORT 0x100)

# The system's own ids that the templates use: <windows.h> names them for the
# resource compiler; the C++ tables take their values.
set(QM_SYSTEM_ID_IDOK 1)
set(QM_SYSTEM_ID_IDCANCEL 2)

function(qm_style_value out names)
  string(REPLACE "|" ";" list "${names}")
  set(acc 0)
  foreach(name IN LISTS list)
    if(NOT DEFINED QM_STYLE_${name})
      message(FATAL_ERROR "unknown style name '${name}'")
    endif()
    math(EXPR acc "${acc} | ${QM_STYLE_${name}}")
  endforeach()
  math(EXPR acc "${acc}" OUTPUT_FORMAT HEXADECIMAL)
  set(${out} ${acc} PARENT_SCOPE)
endfunction()

function(qm_check_text text)
  if(text MATCHES "\"")
    message(FATAL_ERROR "a resource text may not hold a double quote: ${text}")
  endif()
endfunction()

function(qm_language_rc out lang)
  if(lang EQUAL 1033)
    set(${out} "LANGUAGE 9, 1" PARENT_SCOPE)
  elseif(lang EQUAL 1041)
    set(${out} "LANGUAGE 17, 1" PARENT_SCOPE)
  else()
    message(FATAL_ERROR "unsupported language ${lang}")
  endif()
endfunction()

set(QM_IDS "")
set(QM_LANGUAGES "")
set(QM_STRINGS "")
set(QM_DIALOGS "")
set(QM_ICONS "")
set(QM_ICON_VALUES "")

# Names an id once; every other use goes by the name. The prefix says what it
# names: IDD_ template, IDC_ control, IDS_ string, IDI_ icon, IDM_ menu command,
# TXT_ text of the Linux tool.
function(qm_id name value)
  if(NOT name MATCHES "^(ID[DCSIM]|TXT)_[A-Z0-9_]+$")
    message(FATAL_ERROR "id name '${name}' lacks one of the prefixes IDD_ IDC_ IDS_ IDI_ IDM_ TXT_")
  endif()
  if(DEFINED QM_ID_${name} OR DEFINED QM_SYSTEM_ID_${name})
    message(FATAL_ERROR "id ${name} named twice")
  endif()
  math(EXPR number "${value}")
  string(SUBSTRING "${name}" 0 4 prefix)
  # Strings and texts are rows of one table, looked up by their number alone.
  set(space ${prefix})
  if(prefix STREQUAL "TXT_")
    set(space IDS_)
  endif()
  if(DEFINED QM_ID_VALUE_${space}_${number})
    message(FATAL_ERROR "${name} and ${QM_ID_VALUE_${space}_${number}} share the value ${value}")
  endif()
  set(QM_ID_VALUE_${space}_${number} ${name} PARENT_SCOPE)
  set(QM_ID_${name} ${value} PARENT_SCOPE)
  set(QM_ID_DOC_${name} "${ARGN}" PARENT_SCOPE)
  set(QM_IDS ${QM_IDS} ${name} PARENT_SCOPE)
endfunction()

# The value of id `name`, which must carry `prefix` (or be one of the system's
# ids where `system` allows them).
function(qm_id_value out name prefix system)
  if(DEFINED QM_ID_${name} AND name MATCHES "^${prefix}")
    set(${out} ${QM_ID_${name}} PARENT_SCOPE)
  elseif(system AND DEFINED QM_SYSTEM_ID_${name})
    set(${out} ${QM_SYSTEM_ID_${name}} PARENT_SCOPE)
  else()
    message(FATAL_ERROR "'${name}' is no ${prefix} id named by qm_id")
  endif()
endfunction()

# Strings and dialogs are kept per language, as rc fragments and C++ rows. These
# are functions, not macros: a macro would expand the \r\n escapes of its texts.
function(qm_string lang id text)
  qm_check_text("${text}")
  qm_id_value(value ${id} IDS_ FALSE)
  if(NOT "${lang}" IN_LIST QM_LANGUAGES)
    set(QM_LANGUAGES ${QM_LANGUAGES} ${lang} PARENT_SCOPE)
  endif()
  if(DEFINED QM_STR_${lang}_${id})
    message(FATAL_ERROR "string ${id} defined twice for ${lang}")
  endif()
  set(QM_STR_${lang}_${id} 1 PARENT_SCOPE)
  set(QM_RC_STRINGS_${lang} "${QM_RC_STRINGS_${lang}}    ${id}, \"${text}\"\n" PARENT_SCOPE)
  set(QM_CPP_STRINGS "${QM_CPP_STRINGS}    {${value}, ${lang}, \"${text}\"},\n" PARENT_SCOPE)
endfunction()

# A text of the Linux tool alone: it goes into the tables the Linux build reads,
# never into the resource script, which the Windows program's size pays for. A
# line break in it stands for \n. {1} to {9} mark the pieces filled in when it is
# shown; both languages must mark the same ones, from {1} on without a gap.
function(qm_text lang id text)
  qm_check_text("${text}")
  qm_language_rc(unused ${lang})
  qm_id_value(value ${id} TXT_ FALSE)
  if(DEFINED QM_TXT_SEEN_${lang}_${id})
    message(FATAL_ERROR "text ${id} defined twice for ${lang}")
  endif()
  string(REPLACE "\n" "\\n" text "${text}")
  string(REGEX MATCHALL "{[1-9]}" marks "${text}")
  list(REMOVE_DUPLICATES marks)
  list(SORT marks)
  set(n 0)
  foreach(mark IN LISTS marks)
    math(EXPR n "${n} + 1")
    if(NOT mark STREQUAL "{${n}}")
      message(FATAL_ERROR "text ${id} (${lang}) marks ${mark} without {${n}}")
    endif()
  endforeach()
  set(QM_TXT_SEEN_${lang}_${id} 1 PARENT_SCOPE)
  set(QM_TXT_MARKS_${lang}_${id} "${marks}" PARENT_SCOPE)
  set(QM_CPP_STRINGS "${QM_CPP_STRINGS}    {${value}, ${lang}, \"${text}\"},\n" PARENT_SCOPE)
endfunction()

function(qm_dialog lang id cx cy style exstyle fontsize fontname caption)
  qm_check_text("${caption}")
  qm_id_value(value ${id} IDD_ FALSE)
  if(NOT "${lang}" IN_LIST QM_LANGUAGES)
    set(QM_LANGUAGES ${QM_LANGUAGES} ${lang} PARENT_SCOPE)
  endif()
  set(cur "${id}_${lang}")
  set(QM_CUR ${cur} PARENT_SCOPE)
  set(QM_DIALOGS ${QM_DIALOGS} ${cur} PARENT_SCOPE)
  set(QM_DLG_LANG_${cur} ${lang} PARENT_SCOPE)
  qm_style_value(style_value "${style}")
  qm_style_value(exstyle_value "${exstyle}")
  string(REPLACE "|" " | " rc_style "${style}")
  set(rc "${id} DIALOGEX 0, 0, ${cx}, ${cy}\nSTYLE ${rc_style}\n")
  if(NOT "${exstyle}" STREQUAL "0")
    string(APPEND rc "EXSTYLE ${exstyle}\n")
  endif()
  string(APPEND rc "CAPTION \"${caption}\"\nFONT ${fontsize}, \"${fontname}\"\nBEGIN\n")
  set(QM_RC_DLG_${cur} "${rc}" PARENT_SCOPE)
  set(QM_CPP_DLG_${cur}
      "${value}, ${lang}, ${style_value}, ${exstyle_value}, ${cx}, ${cy}, ${fontsize}, \"${fontname}\", \"${caption}\""
      PARENT_SCOPE)
  set(QM_CPP_CTL_${cur} "" PARENT_SCOPE)
  set(QM_CTL_COUNT_${cur} 0 PARENT_SCOPE)
endfunction()

function(qm_control text id class style x y cx cy)
  qm_check_text("${text}")
  if(NOT DEFINED QM_CUR)
    message(FATAL_ERROR "qm_control before any qm_dialog")
  endif()
  set(cur ${QM_CUR})
  qm_id_value(value ${id} IDC_ TRUE)
  qm_style_value(style_value "WS_CHILD|WS_VISIBLE|${style}")
  string(REPLACE "|" " | " rc_style "WS_CHILD|WS_VISIBLE|${style}")
  set(QM_RC_DLG_${cur}
      "${QM_RC_DLG_${cur}}    CONTROL \"${text}\", ${id}, \"${class}\", ${rc_style}, ${x}, ${y}, ${cx}, ${cy}\n"
      PARENT_SCOPE)
  set(QM_CPP_CTL_${cur}
      "${QM_CPP_CTL_${cur}}    {${value}, \"${class}\", \"${text}\", ${style_value}, ${x}, ${y}, ${cx}, ${cy}},\n"
      PARENT_SCOPE)
  math(EXPR count "${QM_CTL_COUNT_${cur}} + 1")
  set(QM_CTL_COUNT_${cur} ${count} PARENT_SCOPE)
endfunction()

function(qm_icon id file)
  qm_id_value(value ${id} IDI_ FALSE)
  set(QM_ICONS ${QM_ICONS} ${id} PARENT_SCOPE)
  set(QM_ICON_VALUES ${QM_ICON_VALUES} ${value} PARENT_SCOPE)
  set(QM_ICON_FILE_${id} "${RES_DIR}/${file}" PARENT_SCOPE)
endfunction()

include(${SRC})

# Every text of the Linux tool in both languages, with the same pieces to fill.
foreach(name IN LISTS QM_IDS)
  if(name MATCHES "^TXT_")
    foreach(lang 1033 1041)
      if(NOT DEFINED QM_TXT_SEEN_${lang}_${name})
        message(FATAL_ERROR "text ${name} has no text for ${lang}")
      endif()
    endforeach()
    if(NOT "${QM_TXT_MARKS_1033_${name}}" STREQUAL "${QM_TXT_MARKS_1041_${name}}")
      message(FATAL_ERROR "text ${name} marks ${QM_TXT_MARKS_1033_${name}} in 1033 but ${QM_TXT_MARKS_1041_${name}} in 1041")
    endif()
  endif()
endforeach()

# --- The header of named ids --------------------------------------------------------
set(ids "// Generated from resources.cmake; edit that file instead.\n")
string(APPEND ids "// The resource ids, by name: dialog templates (IDD_), their controls (IDC_),\n")
string(APPEND ids "// strings (IDS_), the icon (IDI_), the system-menu command (IDM_) and the Linux\n")
string(APPEND ids "// tool's texts (TXT_). The code, the resource script and the tests all use these\n")
string(APPEND ids "// names.\n#pragma once\n\n")
set(string_ids "")
set(last_prefix "")
foreach(name IN LISTS QM_IDS)
  string(SUBSTRING "${name}" 0 4 prefix)
  if(NOT last_prefix STREQUAL "" AND NOT prefix STREQUAL last_prefix)
    string(APPEND ids "\n")
  endif()
  set(last_prefix ${prefix})
  set(value ${QM_ID_${name}})
  if(value MATCHES "^-")
    set(value "(${value})")
  endif()
  set(line "#define ${name} ${value}")
  if(NOT "${QM_ID_DOC_${name}}" STREQUAL "")
    string(APPEND line "  // ${QM_ID_DOC_${name}}")
  endif()
  string(APPEND ids "${line}\n")
  if(name MATCHES "^IDS_")
    list(APPEND string_ids ${QM_ID_${name}})
  endif()
endforeach()

# --- Windows resource script ------------------------------------------------------
set(rc "// Generated from resources.cmake; edit that file instead.\n")
string(APPEND rc "#pragma code_page(65001)\n#include <windows.h>\n#include <commctrl.h>\n#include \"res/resource.h\"\n\n")
string(APPEND rc "LANGUAGE 0, 0\n")
string(APPEND rc "CREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST \"${RES_DIR}/quillmor.manifest\"\n\n")
foreach(lang IN LISTS QM_LANGUAGES)
  qm_language_rc(langline ${lang})
  string(APPEND rc "${langline}\n\n")
  foreach(icon IN LISTS QM_ICONS)
    string(APPEND rc "${icon} ICON \"${QM_ICON_FILE_${icon}}\"\n\n")
  endforeach()
  foreach(dlg IN LISTS QM_DIALOGS)
    if(QM_DLG_LANG_${dlg} EQUAL lang)
      string(APPEND rc "${QM_RC_DLG_${dlg}}END\n\n")
    endif()
  endforeach()
  string(APPEND rc "STRINGTABLE\nBEGIN\n${QM_RC_STRINGS_${lang}}END\n\n")
endforeach()

# --- C++ tables --------------------------------------------------------------------
set(cpp "// Generated from resources.cmake; edit that file instead.\n")
string(APPEND cpp "#include \"res/strings.h\"\n#include \"res/templates.h\"\n\n")
string(APPEND cpp "namespace {\n\nstruct StringRow {\n    unsigned id;\n    int language;\n    const char* text;\n};\n\n")
string(APPEND cpp "const StringRow kStrings[] = {\n${QM_CPP_STRINGS}};\n\n")
set(dialog_rows "")
foreach(dlg IN LISTS QM_DIALOGS)
  if(QM_CTL_COUNT_${dlg} GREATER 0)
    string(APPEND cpp "const ResControl kControls_${dlg}[] = {\n${QM_CPP_CTL_${dlg}}};\n\n")
    string(APPEND dialog_rows "    {${QM_CPP_DLG_${dlg}}, kControls_${dlg}, ${QM_CTL_COUNT_${dlg}}},\n")
  else()
    string(APPEND dialog_rows "    {${QM_CPP_DLG_${dlg}}, nullptr, 0},\n")
  endif()
endforeach()
string(APPEND cpp "const ResDialog kDialogs[] = {\n${dialog_rows}};\n\n")
string(REPLACE ";" ", " icon_list "${QM_ICON_VALUES}")
string(REPLACE ";" ", " string_id_list "${string_ids}")
string(APPEND cpp "const unsigned kIcons[] = {${icon_list}};\n\n")
string(APPEND cpp "const unsigned kStringIds[] = {${string_id_list}};\n\n}  // namespace\n\n")
string(APPEND cpp [=[
const char* ResourceString(unsigned id, int language) {
    for (const StringRow& row : kStrings) {
        if (row.id == id && row.language == language) return row.text;
    }
    return nullptr;
}

const ResDialog* ResourceDialog(unsigned id, int language) {
    for (const ResDialog& dialog : kDialogs) {
        if (dialog.id == id && dialog.language == language) return &dialog;
    }
    return nullptr;
}

bool ResourceIconExists(unsigned id) {
    for (unsigned icon : kIcons) {
        if (icon == id) return true;
    }
    return false;
}

const unsigned* ResourceStringIds(int* count) {
    *count = static_cast<int>(sizeof kStringIds / sizeof kStringIds[0]);
    return kStringIds;
}
]=])

# Rewrite only on change, so that a regeneration does not rebuild dependants.
foreach(pair "IDS_OUT;ids" "RC_OUT;rc" "CPP_OUT;cpp")
  list(GET pair 0 path_var)
  list(GET pair 1 content_var)
  if(DEFINED ${path_var})
    set(old "")
    if(EXISTS "${${path_var}}")
      file(READ "${${path_var}}" old)
    endif()
    if(NOT old STREQUAL "${${content_var}}")
      file(WRITE "${${path_var}}" "${${content_var}}")
    endif()
  endif()
endforeach()
