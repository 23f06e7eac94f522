# check_imports.cmake - the filter imports nothing beyond what it may use
#   cmake -DLIB=libvtq_zozaz.so -DPROVIDERS="libvtq_oscomm.so;...;libz.so" [-DSANITIZE=ON] -P check_imports.cmake
# Every undefined dynamic symbol of LIB is defined by one of PROVIDERS (the host libraries, zlib, libdeflate), or is
# one of the libc routines below that neither allocate, touch files nor keep state (and their _chk forms), one of the
# member decoders' and AES's routines (none touches a file), __stack_chk_fail, a start-up weak reference, or with
# SANITIZE a sanitizer entry point.  Nothing from the C++ runtime: a name from libstdc++ means exceptions, operator
# new/delete, guarded statics or a throwing call crept in.
cmake_minimum_required(VERSION 3.25)
set(libc_routines memchr memcmp memcpy memmove memset strchr strcmp strlen strncmp strnlen strrchr)
set(provided ${libc_routines} __stack_chk_fail __cxa_finalize __gmon_start__ _ITM_deregisterTMCloneTable
    _ITM_registerTMCloneTable BZ2_bzDecompress BZ2_bzDecompressEnd BZ2_bzDecompressInit lzma_code lzma_end
    lzma_raw_decoder lzma_stream_decoder ZSTD_createDCtx_advanced ZSTD_decompressDCtx ZSTD_freeDCtx
    ZSTD_getErrorCode ZSTD_isError CRYPTO_memcmp EVP_CIPHER_CTX_free EVP_CIPHER_CTX_new EVP_CIPHER_CTX_set_padding
    EVP_EncryptInit_ex EVP_EncryptUpdate EVP_aes_128_ecb EVP_aes_192_ecb EVP_aes_256_ecb EVP_sha1 HMAC
    OPENSSL_cleanse PKCS5_PBKDF2_HMAC)
list(TRANSFORM libc_routines REPLACE "(.+)" "__\\1_chk")
list(APPEND provided ${libc_routines})

function(dynamic_symbols file which out)
  execute_process(COMMAND nm -D ${which} ${file} OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm ${which} failed on ${file}")
  endif()
  string(REGEX MATCHALL "[A-Za-z] [^\n ]+\n" lines "${text}")
  list(TRANSFORM lines REPLACE "^. ([^@\n]+).*" "\\1")
  set(${out} ${lines} PARENT_SCOPE)
endfunction()

foreach(provider IN LISTS PROVIDERS)
  dynamic_symbols(${provider} --defined-only names)
  list(APPEND provided ${names})
endforeach()
dynamic_symbols(${LIB} --undefined-only imports)
set(stray "")
foreach(name IN LISTS imports)
  if(NOT name IN_LIST provided AND NOT (SANITIZE AND name MATCHES "^__(asan|ubsan|lsan|sanitizer)_"))
    list(APPEND stray ${name})
  endif()
endforeach()
if(stray)
  list(JOIN stray "\n  " shown)
  message(FATAL_ERROR "${LIB} imports names outside its allow-list:\n  ${shown}")
endif()
list(LENGTH imports count)
message(STATUS "all ${count} imports of ${LIB} are allowed")
