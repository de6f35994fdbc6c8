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

# What the header holds for the good case.
file(READ ${WORK}/Good.h header)
foreach(line "#define IDD_MAIN 102" "#define IDS_TITLE 102  // a string may share" "#define IDC_STATIC (-1)")
  string(FIND "${header}" "${line}" at)
  if(at LESS 0)
    message(SEND_ERROR "Good: the header lacks '${line}'")
  endif()
endforeach()
file(READ ${WORK}/Good.cpp tables)
string(FIND "${tables}" "{1, \"BUTTON\", \"OK\"" at)
if(at LESS 0)
  message(SEND_ERROR "Good: the system's IDOK is not 1 in the tables")
endif()
