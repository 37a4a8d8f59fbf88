# Writes the man page of morvex-fit from its own help texts, so the page
# always lists the options the program has.  Run as a script:
#   cmake -DPROGRAM=<morvex-fit> -DHELP2MAN=<help2man> -DVERSION=<x.y.z> -DOUTPUT=<morvex-fit.1> -P ManPage.cmake
# The options of each subcommand go into a section of their own.
get_filename_component(dir ${OUTPUT} DIRECTORY)
set(include_file ${dir}/morvex-fit.h2m)
set(text "[NAME]\nmorvex-fit \\- fit Magic Formula tire coefficients to measured tire data\n")
foreach(sub fit eval report tir)
  execute_process(COMMAND ${PROGRAM} ${sub} --help OUTPUT_VARIABLE help RESULT_VARIABLE rc)
  if(rc EQUAL 0)
    string(REPLACE "${PROGRAM}" "morvex-fit" help "${help}")
    string(TOUPPER ${sub} upper)
    # Lines that begin with a dash would be read as roff requests.
    string(REGEX REPLACE "\n( *)-" "\n\\1\\\\-" help "${help}")
    string(APPEND text "[${upper} SUBCOMMAND]\n.nf\n${help}\n.fi\n")
  endif()
endforeach()
string(APPEND text "[FILES]\n.TP\n.I param_fm_ini.ini\nstart-up coefficients, read from the folder of the executable\n.TP\n.I configuration.ini\nfit settings, read from the folder of the executable\n")
string(APPEND text "[SEE ALSO]\n.BR morvex (1):\nthe desktop window with the same fit commands.\n")
file(WRITE ${include_file} "${text}")
execute_process(
  COMMAND ${HELP2MAN} --no-info --no-discard-stderr --version-string=${VERSION}
          --section=1 --include=${include_file} --output=${OUTPUT} ${PROGRAM}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "help2man failed for ${PROGRAM}")
endif()
