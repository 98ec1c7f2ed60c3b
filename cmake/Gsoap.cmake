# gSOAP: soapcpp2 from Debian's gsoap package generates the serializers and
# stubs at build time; the runtime stdsoap2.cpp comes from Debian's gsoap
# source package (scripts/fetch-gsoap-source.sh puts it under .deps/) and is
# compiled here with our settings: TLS through OpenSSL, and 1024-byte
# buffers so that attachments stream as 1024-byte DIME records. Debian's
# prebuilt libgsoap is never linked: its struct soap has another layout.

find_program(ZR_SOAPCPP2 soapcpp2)
if(NOT ZR_SOAPCPP2)
  message(FATAL_ERROR "Missing dependency: install the Debian package 'gsoap' (scripts/install-deps.sh does it)")
endif()
file(GLOB ZR_GSOAP_CANDIDATES "${PROJECT_SOURCE_DIR}/.deps/gsoap-*/gsoap/stdsoap2.cpp")
list(SORT ZR_GSOAP_CANDIDATES)
list(POP_BACK ZR_GSOAP_CANDIDATES ZR_GSOAP_RUNTIME)
if(NOT ZR_GSOAP_RUNTIME)
  message(FATAL_ERROR "gSOAP runtime source missing: run scripts/install-deps.sh (it fetches Debian's gsoap source into .deps/)")
endif()
get_filename_component(ZR_GSOAP_DIR "${ZR_GSOAP_RUNTIME}" DIRECTORY)
message(STATUS "gSOAP runtime: ${ZR_GSOAP_DIR}")

if(WIN32)
  set(OPENSSL_USE_STATIC_LIBS TRUE)
endif()
find_package(OpenSSL QUIET)
zr_require(OPENSSL_FOUND libssl-dev)
if(WIN32)
  # A static OpenSSL needs the system's socket and certificate libraries.
  set_property(TARGET OpenSSL::Crypto APPEND PROPERTY INTERFACE_LINK_LIBRARIES ws2_32 crypt32 bcrypt)
endif()

# Every file that includes stdsoap2.h must see these, or struct soap differs.
# Our messages carry a few parts and no shared references: the small hash
# tables of the lean build, instead of 4096- and 1999-entry tables cleared
# for every message.
set(ZR_GSOAP_DEFINITIONS WITH_OPENSSL SOAP_TMPLEN=1024 SOAP_PTRHASH=32 SOAP_IDHASH=19)
