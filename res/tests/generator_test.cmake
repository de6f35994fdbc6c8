# The generator's refusals: a resource file that names an id wrongly must stop the
# build, not yield a header and a resource script that disagree. Run as:
#   cmake -DGENERATOR=generate.cmake -DWORK=<scratch folder> -P generator_test.cmake
cmake_minimum_required(VERSION 3.20)

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

# qm_case(NAME EXPECTED BODY): EXPECTED is "ok" or a text the refusal must hold.
function(qm_case name expected body)
  file(WRITE ${WORK}/${name}.cmake "${body}\n")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -DSRC=${WORK}/${name}.cmake -DIDS_OUT=${WORK}/${name}.h
            -DCPP_OUT=${WORK}/${name}.cpp -DRES_DIR=${WORK} -P ${GENERATOR}
    RESULT_VARIABLE result ERROR_VARIABLE error OUTPUT_QUIET)
  if(expected STREQUAL "ok")
    if(NOT result EQUAL 0)
      message(SEND_ERROR "${name}: refused: ${error}")
    endif()
  elseif(result EQUAL 0)
    message(SEND_ERROR "${name}: accepted, expected a refusal holding '${expected}'")
  else()
    string(FIND "${error}" "${expected}" at)
    if(at LESS 0)
      message(SEND_ERROR "${name}: refused for another reason: ${error}")
    endif()
  endif()
endfunction()

qm_case(Good ok [=[
qm_id(IDD_MAIN 102)
qm_id(IDS_TITLE 102 "a string may share a template's number")
qm_id(IDC_STATIC -1)
qm_string(1033 IDS_TITLE [[title]])
qm_dialog(1033 IDD_MAIN 10 10 "WS_POPUP" "0" 8 [[MS Shell Dlg]] [[caption]])
qm_control([[text]] IDC_STATIC STATIC "SS_LEFT" 1 1 5 5)
qm_control([[OK]] IDOK BUTTON "BS_DEFPUSHBUTTON" 1 1 5 5)
]=])
qm_case(UnnamedId "no IDS_ id" "qm_string(1033 IDS_TITLE [[title]])")
qm_case(NumberForAName "no IDD_ id" [=[qm_dialog(1033 102 10 10 "WS_POPUP" "0" 8 [[MS Shell Dlg]] [[caption]])]=])
qm_case(NamedTwice "named twice" "qm_id(IDS_TITLE 101)\nqm_id(IDS_TITLE 101)")
qm_case(SameValueSameKind "share the value" "qm_id(IDS_TITLE 101)\nqm_id(IDS_OTHER 101)")
qm_case(WrongKind "no IDS_ id" "qm_id(IDD_MAIN 102)\nqm_string(1033 IDD_MAIN [[title]])")
qm_case(SystemIdAsString "no IDS_ id" "qm_string(1033 IDOK [[title]])")
qm_case(NoPrefix "lacks one of the prefixes" "qm_id(TITLE 101)")

# The Linux tool's texts: a row of the same table as the strings, in both languages,
# with the same pieces to fill.
qm_case(TextGood ok [=[
qm_id(IDS_TITLE 101)
qm_id(TXT_OPENED 2000)
qm_id(TXT_PLAIN 2001)
qm_string(1033 IDS_TITLE [[title]])
qm_text(1033 TXT_OPENED [[{1} opened; {2} left {1}]])
qm_text(1041 TXT_OPENED [[{2} を残し {1} を開きました]])
qm_text(1033 TXT_PLAIN [[
first
second
]])
qm_text(1041 TXT_PLAIN [[一\n二]])
]=])
qm_case(TextSharesAStringValue "share the value" "qm_id(IDS_TITLE 101)\nqm_id(TXT_TITLE 101)")
qm_case(TextOneLanguage "has no text for 1041" "qm_id(TXT_A 2000)\nqm_text(1033 TXT_A [[a]])")
qm_case(TextNamedOnly "has no text for 1033" "qm_id(TXT_A 2000)")
qm_case(TextOtherPieces "marks {1};{2} in 1033 but {1} in 1041"
        "qm_id(TXT_A 2000)\nqm_text(1033 TXT_A [[{1} {2}]])\nqm_text(1041 TXT_A [[{1}]])")
qm_case(TextGap "marks {3} without {2}"
        "qm_id(TXT_A 2000)\nqm_text(1033 TXT_A [[{1} {3}]])\nqm_text(1041 TXT_A [[{1} {3}]])")
qm_case(TextTwice "defined twice"
        "qm_id(TXT_A 2000)\nqm_text(1033 TXT_A [[a]])\nqm_text(1033 TXT_A [[b]])\nqm_text(1041 TXT_A [[c]])")
qm_case(TextOtherLanguage "unsupported language" "qm_id(TXT_A 2000)\nqm_text(1031 TXT_A [[a]])")
qm_case(TextByAStringId "no TXT_ id" "qm_id(IDS_TITLE 101)\nqm_text(1033 IDS_TITLE [[a]])")
qm_case(TextWithAQuote "double quote" "qm_id(TXT_A 2000)\nqm_text(1033 TXT_A [[say \"a\"]])")

# What the header holds for the good case.
file(READ ${WORK}/Good.h header)
foreach(line "#define IDD_MAIN 102" "#define IDS_TITLE 102  // a string may share" "#define IDC_STATIC (-1)")
  string(FIND "${header}" "${line}" at)
  if(at LESS 0)
    message(SEND_ERROR "Good: the header lacks '${line}'")
  endif()
endforeach()
# A text goes into the tables the Linux build reads, with its line breaks as \n,
# and never into the resource script.
file(READ ${WORK}/TextGood.cpp tables)
foreach(row [[{2000, 1033, "{1} opened; {2} left {1}"}]] [[{2001, 1033, "first\nsecond\n"}]]
            [[{2001, 1041, "一\n二"}]] [[kStringIds[] = {101}]])
  string(FIND "${tables}" "${row}" at)
  if(at LESS 0)
    message(SEND_ERROR "TextGood: the tables lack '${row}'")
  endif()
endforeach()
execute_process(
  COMMAND ${CMAKE_COMMAND} -DSRC=${WORK}/TextGood.cmake -DRC_OUT=${WORK}/TextGood.rc -DRES_DIR=${WORK}
          -P ${GENERATOR}
  RESULT_VARIABLE result)
file(READ ${WORK}/TextGood.rc script)
foreach(absent "opened" "second" "2000" "TXT_")
  string(FIND "${script}" "${absent}" at)
  if(NOT result EQUAL 0 OR at GREATER_EQUAL 0)
    message(SEND_ERROR "TextGood: the resource script holds '${absent}' (or was not made)")
  endif()
endforeach()

file(READ ${WORK}/Good.cpp tables)
string(FIND "${tables}" "{1, \"BUTTON\", \"OK\"" at)
if(at LESS 0)
  message(SEND_ERROR "Good: the system's IDOK is not 1 in the tables")
endif()
