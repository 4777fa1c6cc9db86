# Runs orvix-vino-pack through its main cases and checks exit status and
# output.
#
#   cmake -DTOOL=<orvix-vino-pack> -DDATA=<tests/data/ovplugin> -DWORK=<scratch folder> -P VinoPackTool.cmake

foreach(variable TOOL DATA WORK)
  if(NOT ${variable})
    message(FATAL_ERROR "VinoPackTool.cmake: ${variable} is not set")
  endif()
endforeach()
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

# run(<label> <expected exit status> <text the output must contain or "">
#     <arguments...>)
function(run label expected contains)
  execute_process(COMMAND "${TOOL}" ${ARGN}
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(text "${out}${err}")
  if(NOT status STREQUAL "${expected}")
    message(SEND_ERROR "${label}: exit status ${status}, expected ${expected}\n${text}")
  elseif(contains AND NOT text MATCHES "${contains}")
    message(SEND_ERROR "${label}: output lacks '${contains}'\n${text}")
  endif()
endfunction()

set(grey "${DATA}/grey_conv.onnx")
run("pack" 0 "packed" pack "${grey}" "${WORK}/grey.vino" --channels 1 --height 8 --width 8)
run("verify" 0 "output shape: 1x1x8x8" verify "${WORK}/grey.vino")
run("pack again" 0 "packed" pack "${grey}" "${WORK}/grey-again.vino" --channels 1 --height 8 --width 8)
file(SHA256 "${WORK}/grey.vino" first)
file(SHA256 "${WORK}/grey-again.vino" second)
if(NOT first STREQUAL second)
  message(SEND_ERROR "packing the same network twice gave different files")
endif()
run("pack planar float" 0 "fp32 nchw" pack "${DATA}/rgb_mix.onnx" "${WORK}/rgb.vino"
    --channels 3 --height 4 --width 5 --type fp32 --layout nchw)
run("verify planar float" 0 "input: fp32 nchw channels 3 height 4 width 5" verify "${WORK}/rgb.vino")
run("shape the network refuses" 1 "does not run" pack "${grey}" "${WORK}/bad.vino" --channels 3 --height 8 --width 8)
if(EXISTS "${WORK}/bad.vino" OR EXISTS "${WORK}/bad.vino.tmp")
  message(SEND_ERROR "a failed pack left a file behind")
endif()
run("missing input" 1 "cannot open" pack "${WORK}/absent.onnx" "${WORK}/x.vino" --channels 1 --height 8 --width 8)
run("verify a plain ONNX file" 1 "not a .vino model container" verify "${grey}")
file(WRITE "${WORK}/short.vino" "ORVXVINO")
run("verify a truncated file" 1 "truncated" verify "${WORK}/short.vino")
run("no command" 2 "usage:")
run("unknown command" 2 "unknown command" squeeze "${grey}")
run("missing shape" 2 "needs --channels" pack "${grey}" "${WORK}/x.vino" --channels 1)
run("zero height" 2 "bad value for --height" pack "${grey}" "${WORK}/x.vino" --channels 1 --height 0 --width 8)
run("bad type" 2 "bad value for --type" pack "${grey}" "${WORK}/x.vino" --channels 1 --height 8 --width 8 --type int16)
run("option without value" 2 "needs a value" pack "${grey}" "${WORK}/x.vino" --channels)
run("verify with extra argument" 2 "exactly one file" verify "${WORK}/grey.vino" extra)

file(REMOVE_RECURSE "${WORK}")
