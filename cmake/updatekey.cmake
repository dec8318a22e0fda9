# The public key built into the client at configure time (-DQEL31_UPDATE_PUBLIC_KEY=FILE): written as a
# header that defines kBuiltInUpdateKey, the PEM text as it is. Anything but a PEM public key is
# refused, a private key above all. Run as a script (cmake -DKEY=FILE -DOUT=HEADER -P updatekey.cmake)
# it does the same, for the test of the embedding.

function(qel31_write_update_key file out)
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "QEL31_UPDATE_PUBLIC_KEY: ${file} does not exist")
  endif()
  file(READ "${file}" QEL31_BUILTIN_UPDATE_KEY)
  if(NOT QEL31_BUILTIN_UPDATE_KEY MATCHES "-----BEGIN PUBLIC KEY-----" OR QEL31_BUILTIN_UPDATE_KEY MATCHES "PRIVATE"
     OR QEL31_BUILTIN_UPDATE_KEY MATCHES "\\)qel31key")
    message(FATAL_ERROR "QEL31_UPDATE_PUBLIC_KEY: ${file} is not a public key in PEM form")
  endif()
  file(CONFIGURE OUTPUT "${out}"
       CONTENT "// Made at configure time from ${file}.\ninline constexpr char kBuiltInUpdateKey[] = R\"qel31key(@QEL31_BUILTIN_UPDATE_KEY@)qel31key\";\n"
       @ONLY)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED KEY AND DEFINED OUT)
  qel31_write_update_key("${KEY}" "${OUT}")
endif()
