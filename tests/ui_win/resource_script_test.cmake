# The resource script generator: the script made from the real template and .ui files holds their
# geometry, and each way the two can disagree fails with the control named.
#
#   cmake -DSOURCE_DIR=... -DWORK_DIR=... -P resource_script_test.cmake
cmake_minimum_required(VERSION 3.25)
set(generator ${SOURCE_DIR}/ui_win/make_resource_script.cmake)
set(template ${SOURCE_DIR}/ui_win/quillmark.rc.in)
file(MAKE_DIRECTORY ${WORK_DIR})
file(READ ${template} original)

# Runs the generator on `text` as the template; sets `failed` and `output`.
function(generate text)
  file(WRITE ${WORK_DIR}/case.rc.in "${text}")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -DTEMPLATE=${WORK_DIR}/case.rc.in
            -DUI_FILES=${SOURCE_DIR}/ui/cor_vexdlg.ui,${SOURCE_DIR}/ui/login_dlg.ui
            -DICON=app.ico -DMANIFEST=app.manifest -DBITMAP_DIR=bitmaps
            -DOUTPUT_RC=${WORK_DIR}/case.rc -DOUTPUT_HEADER=${WORK_DIR}/case.h -P ${generator}
    RESULT_VARIABLE result ERROR_VARIABLE errors OUTPUT_QUIET)
  string(REGEX REPLACE "[ \n]+" " " errors "${errors}")
  set(failed ${result} PARENT_SCOPE)
  set(output "${errors}" PARENT_SCOPE)
endfunction()

function(expect_failure case text pattern)
  generate("${text}")
  if(NOT failed)
    message(FATAL_ERROR "${case}: the generator accepted it")
  endif()
  if(NOT output MATCHES "${pattern}")
    message(FATAL_ERROR "${case}: expected \"${pattern}\" in: ${output}")
  endif()
endfunction()

generate("${original}")
if(failed)
  message(FATAL_ERROR "the real template fails: ${output}")
endif()
file(READ ${WORK_DIR}/case.rc rc)
foreach(expected
    "102 DIALOGEX 0, 0, 511, 322"
    "\"\", 1005, \"msctls_progress32\", WS_BORDER, 35, 62, 190, 9"
    "\"\", 1007, \"ComboBox\", CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL | WS_TABSTOP, 71, 23, 56, 93"
    "\"\", 1055, \"Static\", SS_LEFTNOWORDWRAP | SS_NOPREFIX | SS_SUNKEN, 35, 75, 190, 11"
    "\"\", 1047, \"Button\", BS_PUSHBUTTON | WS_TABSTOP | NOT WS_VISIBLE, 171, 19, 61, 32"
    "\"ALL START\", 1029, \"Button\", BS_DEFPUSHBUTTON | WS_TABSTOP, 437, 296, 50, 14"
    "\"\", 1030, \"ComboBox\", CBS_DROPDOWNLIST | WS_TABSTOP | NOT WS_VISIBLE, 29, 295, 78, 33"
    "\"All Check\", 1061, \"Button\", BS_DEFPUSHBUTTON | WS_TABSTOP | NOT WS_VISIBLE, 437, 296,"
    "\"\", 1062, \"Edit\", ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 23, 296, 310, 13"
    "1030, 0x0403, 20, 0, \"Only Upgrade Script\\000\""
    "143 DIALOGEX 0, 0, 233, 84")
  string(FIND "${rc}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the script lacks: ${expected}")
  endif()
endforeach()

string(REGEX REPLACE "[^\n]*@module3_status_line@[^\n]*\n" "" text "${original}")
expect_failure("a widget without control" "${text}" "module3_status_line of .* is not a control")
string(REPLACE "@module3_status_line@" "@module3_status@" text "${original}")
expect_failure("a control without widget" "${text}" "module3_status: a control of COR_VEXDlg")
string(REPLACE "\"Browse\", 1063" "\"Browse...\", 1063" text "${original}")
expect_failure("another caption" "${text}" "browse_button: caption \"Browse...\"")
string(REPLACE "NOT WS_VISIBLE | WS_DISABLED, @save_button@" "NOT WS_VISIBLE, @save_button@" text
       "${original}")
expect_failure("another enabled state" "${text}" "save_button: enabled 1")
string(REPLACE "WS_TABSTOP, @login_button@" "WS_TABSTOP | NOT WS_VISIBLE, @login_button@" text
       "${original}")
expect_failure("another visibility" "${text}" "login_button: visible 0")
