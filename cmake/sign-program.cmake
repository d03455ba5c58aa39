# Signs the program as it is staged for the release zip, before it is packed
# and before its checksum is taken. Run by CPack's install step with
#   SIGN_PROGRAM      the staged executable, signed in place
#   SIGN_DESCRIPTION  the description the signature carries
#   SIGN_URL          the URL it carries, or empty
# and the certificate named by the environment:
#   UNINSTALL_RUNNER_SIGN_PFX            a PKCS#12 file with the key and its certificate
#   UNINSTALL_RUNNER_SIGN_PASSWORD_FILE  a file holding its password
#   UNINSTALL_RUNNER_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server (optional)
# Without UNINSTALL_RUNNER_SIGN_PFX the program is packed unsigned. Any
# trouble stops the packing with one message; the staged file is replaced
# only by a complete signed one, so nothing half-signed is ever packed.

get_filename_component(program_name "${SIGN_PROGRAM}" NAME)
set(pfx "$ENV{UNINSTALL_RUNNER_SIGN_PFX}")
if(pfx STREQUAL "")
    message(NOTICE "${program_name}: not signed (UNINSTALL_RUNNER_SIGN_PFX is not set)")
    return()
endif()
set(password_file "$ENV{UNINSTALL_RUNNER_SIGN_PASSWORD_FILE}")
set(timestamp_url "$ENV{UNINSTALL_RUNNER_SIGN_TIMESTAMP_URL}")

# The reason goes out on a line of its own (CMake would fold an error's
# text), then packing stops.
function(refuse text)
    message(NOTICE "cannot sign ${program_name}: ${text}")
    message(FATAL_ERROR "${program_name} could not be signed: nothing is packed")
endfunction()

foreach(tool IN ITEMS openssl osslsigncode)
    find_program(${tool}_program ${tool})
    if(NOT ${tool}_program)
        refuse("${tool} is not installed (tools/install-deps.sh installs it)")
    endif()
endforeach()

if(password_file STREQUAL "")
    refuse("UNINSTALL_RUNNER_SIGN_PASSWORD_FILE is not set; it names the file holding the certificate's password")
endif()
foreach(file IN ITEMS pfx password_file)
    if(NOT EXISTS "${${file}}" OR IS_DIRECTORY "${${file}}")
        refuse("${${file}} does not exist or is not a file")
    endif()
    execute_process(COMMAND "${CMAKE_COMMAND}" -E cat "${${file}}" OUTPUT_QUIET ERROR_QUIET RESULT_VARIABLE unreadable)
    if(unreadable)
        refuse("${${file}} cannot be read")
    endif()
endforeach()

# The certificate that goes with the key, read with the password: a wrong
# password or a file that is not PKCS#12 fails here.
set(work "${SIGN_PROGRAM}.signing")
file(REMOVE_RECURSE "${work}")
file(MAKE_DIRECTORY "${work}")
execute_process(COMMAND "${openssl_program}" pkcs12 -in "${pfx}" -passin "file:${password_file}" -nokeys -clcerts
                    -out "${work}/certificate.pem"
                RESULT_VARIABLE failed OUTPUT_QUIET ERROR_VARIABLE openssl_error)
if(failed)
    file(REMOVE_RECURSE "${work}")
    refuse("${pfx} cannot be opened with the password in ${password_file} (wrong password, or not a PKCS#12 file)")
endif()

execute_process(COMMAND "${openssl_program}" x509 -in "${work}/certificate.pem" -noout -subject -enddate
                        -ext extendedKeyUsage -checkend 0
                RESULT_VARIABLE expired OUTPUT_VARIABLE certificate ERROR_QUIET)
file(REMOVE_RECURSE "${work}")
string(REGEX MATCH "subject=[^\n]*" subject "${certificate}")
if(NOT certificate MATCHES "Code Signing")
    refuse("the certificate in ${pfx} (${subject}) is not for code signing: it has no code-signing extended key usage")
endif()
if(expired)
    string(REGEX MATCH "notAfter=[^\n]*" end "${certificate}")
    refuse("the certificate in ${pfx} (${subject}) has expired (${end})")
endif()

set(sign_options -h sha256 -n "${SIGN_DESCRIPTION}")
if(NOT SIGN_URL STREQUAL "")
    list(APPEND sign_options -i "${SIGN_URL}")
endif()
set(timestamp_note "")
if(NOT timestamp_url STREQUAL "")
    list(APPEND sign_options -ts "${timestamp_url}")
    set(timestamp_note ", time-stamped by ${timestamp_url}")
endif()
set(signed "${SIGN_PROGRAM}.signed")
file(REMOVE "${signed}")
execute_process(COMMAND "${osslsigncode_program}" sign -pkcs12 "${pfx}" -readpass "${password_file}" ${sign_options}
                        -in "${SIGN_PROGRAM}" -out "${signed}"
                RESULT_VARIABLE failed OUTPUT_VARIABLE sign_output ERROR_VARIABLE sign_output)
if(failed OR NOT EXISTS "${signed}")
    file(REMOVE "${signed}")
    if(NOT timestamp_url STREQUAL "" AND sign_output MATCHES "[Tt]imestamp")
        refuse("the time-stamp server ${timestamp_url} did not answer")
    endif()
    string(STRIP "${sign_output}" sign_output)
    refuse("osslsigncode failed: ${sign_output}")
endif()
file(RENAME "${signed}" "${SIGN_PROGRAM}")
message(NOTICE "${program_name}: signed by ${subject}${timestamp_note}")
