# check_imports.cmake - the filter imports nothing beyond what it may use
#
#   cmake -DLIB=libvtq_zozaz.so -DPROVIDERS="libvtq_oscomm.so;...;libz.so"
#         [-DSANITIZE=ON] -P check_imports.cmake
#
# Every undefined dynamic symbol of LIB must be one of:
#  - a name that one of PROVIDERS defines: the four host libraries, zlib
#    and libdeflate, exactly what the build links;
#  - one of the libc string and memory routines below, which neither
#    allocate, touch files nor keep state (and their _FORTIFY_SOURCE forms);
#  - one of the routines of libbz2, liblzma, libzstd and libcrypto that the
#    member decoders and AES call (listed below: none touches a file);
#  - __stack_chk_fail (-fstack-protector-strong) and the weak references
#    every shared object's start-up code carries;
#  - with SANITIZE on, the sanitizer runtimes' entry points.
# Nothing from the C++ runtime is allowed.  The filter is built without
# exceptions and RTTI, takes its memory from VTQ_malloc (so no operator
# new or delete), and keeps no statics that need a guard or a destructor
# (__cxa_guard_*, __cxa_atexit); a name from libstdc++ therefore means one
# of those rules was broken, and std::__throw_* in particular a library call
# that checks its arguments by throwing (string_view::substr, at()).
cmake_minimum_required(VERSION 3.25)

set(libc_routines memchr memcmp memcpy memmove memset strchr strcmp strlen strncmp strnlen
                  strrchr)
set(start_up __cxa_finalize __gmon_start__ _ITM_deregisterTMCloneTable
             _ITM_registerTMCloneTable)
set(method_routines BZ2_bzDecompress BZ2_bzDecompressEnd BZ2_bzDecompressInit
                    lzma_code lzma_end lzma_raw_decoder lzma_stream_decoder
                    ZSTD_createDCtx_advanced ZSTD_decompressDCtx ZSTD_freeDCtx ZSTD_getErrorCode
                    ZSTD_isError
                    CRYPTO_memcmp EVP_CIPHER_CTX_free EVP_CIPHER_CTX_new EVP_CIPHER_CTX_set_padding
                    EVP_EncryptInit_ex EVP_EncryptUpdate EVP_aes_128_ecb EVP_aes_192_ecb
                    EVP_aes_256_ecb EVP_sha1 HMAC OPENSSL_cleanse PKCS5_PBKDF2_HMAC)

function(dynamic_symbols file which out)
  execute_process(COMMAND nm -D ${which} ${file} OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm ${which} failed on ${file}")
  endif()
  string(REGEX MATCHALL "[A-Za-z] [^\n ]+\n" lines "${text}")
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^. ([^@\n]+).*" "\\1" name "${line}")
    list(APPEND names ${name})
  endforeach()
  set(${out} ${names} PARENT_SCOPE)
endfunction()

set(provided ${libc_routines} ${start_up} ${method_routines} __stack_chk_fail)
foreach(routine IN LISTS libc_routines)
  list(APPEND provided __${routine}_chk)
endforeach()
foreach(provider IN LISTS PROVIDERS)
  dynamic_symbols(${provider} --defined-only names)
  list(APPEND provided ${names})
endforeach()

dynamic_symbols(${LIB} --undefined-only imports)
set(stray "")
foreach(name IN LISTS imports)
  if(name IN_LIST provided)
    continue()
  endif()
  if(SANITIZE AND name MATCHES "^__(asan|ubsan|lsan|sanitizer)_")
    continue()
  endif()
  list(APPEND stray ${name})
endforeach()
if(stray)
  list(JOIN stray "\n  " shown)
  message(FATAL_ERROR "${LIB} imports names outside its allow-list:\n  ${shown}")
endif()
list(LENGTH imports count)
message(STATUS "all ${count} imports of ${LIB} are allowed")
