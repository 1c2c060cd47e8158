# cmake -DPRIVATE_KEY=<pem> -DPUBLIC_KEY=<pem> -DOUTPUT=<file.cc> -P embed_keys.cmake
# Writes a C++ source holding both PEM texts, every line ended by CR LF, as the module
# resources SATISPAY_PRIVATEKEY and SATISPAY_PUBLICKEY.

function(pem_literal path out_var)
  if(NOT EXISTS "${path}")
    message(FATAL_ERROR "Key file not found: ${path}")
  endif()
  file(STRINGS "${path}" lines)
  set(literal "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "\r$" "" line "${line}")
    if(NOT line MATCHES "^[-A-Za-z0-9+/= ]*$")
      message(FATAL_ERROR "Unexpected character in PEM file ${path}")
    endif()
    string(APPEND literal "    \"${line}\\r\\n\"\n")
  endforeach()
  if(literal STREQUAL "")
    message(FATAL_ERROR "Empty key file: ${path}")
  endif()
  set(${out_var} "${literal}" PARENT_SCOPE)
endfunction()

pem_literal("${PRIVATE_KEY}" private_text)
pem_literal("${PUBLIC_KEY}" public_text)

set(content "// Generated at build time from the key pair; not kept in sources.
#include \"satispay/module_resource_table.h\"

namespace qvpa {
namespace {
constexpr char kPrivateKey[] =
${private_text}    \"\";
constexpr char kPublicKey[] =
${public_text}    \"\";
constexpr EmbeddedResource kResources[] = {
    {\"SATISPAY_PRIVATEKEY\", {kPrivateKey, sizeof kPrivateKey - 1}},
    {\"SATISPAY_PUBLICKEY\", {kPublicKey, sizeof kPublicKey - 1}},
};
}  // namespace

std::span<const EmbeddedResource> KeyResources() { return kResources; }

}  // namespace qvpa
")

# Rewrite only on change, so dependants are not rebuilt needlessly.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
  if(old STREQUAL content)
    return()
  endif()
endif()
file(WRITE "${OUTPUT}" "${content}")
