# The trusted release key line compiled into the program (see README.md, "Making a signed
# release").
#
# A deployment passes its own line, as printed by `hallboard-pack keygen`:
#   -DHALLBOARD_RELEASE_KEY="ed25519 <16-hex id> <44-character base64 key>"
# Without it the build trusts the development key, whose private half is test data in
# tests/data/signature/dev-release-key.pem, so that tests and the demo can sign packages. A build
# with HALLBOARD_RELEASE=ON refuses that fallback: no production build may trust a key whose
# private half is public. A development-key build installs updates only from a gateway on the
# same machine.
set(HB_DEV_RELEASE_KEY_LINE "ed25519 4c4c6d37f8a1da95 3GdYS+hwRoqFDHpJeIDcRv5q+aUA+Gk+xsocdpqs7FI=")

string(STRIP "${HALLBOARD_RELEASE_KEY}" HB_RELEASE_KEY_LINE)
if(HB_RELEASE_KEY_LINE STREQUAL "")
  if(HALLBOARD_RELEASE)
    message(FATAL_ERROR "HALLBOARD_RELEASE=ON needs the deployment's key line: "
                        "-DHALLBOARD_RELEASE_KEY=\"ed25519 <id> <key>\" (hallboard-pack keygen prints it)")
  endif()
  set(HB_RELEASE_KEY_LINE "${HB_DEV_RELEASE_KEY_LINE}")
endif()

# The program checks the id against the key at run time; catching a mistyped line here saves a
# release that could never install an update.
string(LENGTH "${HB_RELEASE_KEY_LINE}" HB_KEY_LINE_LENGTH)
string(REPLACE " " ";" HB_KEY_FIELDS "${HB_RELEASE_KEY_LINE}")
list(LENGTH HB_KEY_FIELDS HB_KEY_FIELD_COUNT)
set(HB_KEY_LINE_OK FALSE)
if(HB_KEY_LINE_LENGTH EQUAL 69 AND HB_KEY_FIELD_COUNT EQUAL 3)
  list(GET HB_KEY_FIELDS 0 HB_KEY_TAG)
  list(GET HB_KEY_FIELDS 1 HB_KEY_ID)
  list(GET HB_KEY_FIELDS 2 HB_KEY_B64)
  string(LENGTH "${HB_KEY_ID}" HB_KEY_ID_LENGTH)
  if(HB_KEY_TAG STREQUAL "ed25519" AND HB_KEY_ID_LENGTH EQUAL 16 AND HB_KEY_ID MATCHES "^[0-9a-fA-F]+$"
     AND HB_KEY_B64 MATCHES "^[A-Za-z0-9+/]+=$")
    set(HB_KEY_LINE_OK TRUE)
  endif()
endif()
if(NOT HB_KEY_LINE_OK)
  message(FATAL_ERROR "HALLBOARD_RELEASE_KEY is not a key line (\"ed25519 <16-hex id> <44-character base64 key>\", 69 characters): ${HB_RELEASE_KEY_LINE}")
endif()

if(HB_RELEASE_KEY_LINE STREQUAL HB_DEV_RELEASE_KEY_LINE)
  if(HALLBOARD_RELEASE)
    message(FATAL_ERROR "HALLBOARD_RELEASE=ON cannot trust the development key; pass the deployment's own line")
  endif()
  set(HB_RELEASE_KEY_IS_DEV true)
  message(WARNING "hallBoard trusts the DEVELOPMENT release key (its private half is test data in "
                  "tests/data/signature). This build installs updates only from a gateway on this "
                  "machine (loopback) and must not be shipped to a store; for a store, configure "
                  "with -DHALLBOARD_RELEASE=ON -DHALLBOARD_RELEASE_KEY=\"ed25519 <id> <key>\" "
                  "(README.md, \"Making a signed release\").")
else()
  set(HB_RELEASE_KEY_IS_DEV false)
  message(STATUS "Release key: ${HB_RELEASE_KEY_LINE}")
endif()

configure_file(${CMAKE_CURRENT_LIST_DIR}/ReleaseKeyLine.h.in ${CMAKE_BINARY_DIR}/src/core/ReleaseKeyLine.h @ONLY)
