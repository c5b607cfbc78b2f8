# The service's own domain, where its checkout pages live. Named beside the service host, since
# it cannot be derived safely: dropping the first label of "veyra.com.cn" would trust every
# page under "com.cn". A domain that is a public suffix is refused here, at configure time.
string(TOLOWER "${VEYRA_SERVICE_HOST}" _veyra_host)
string(REGEX REPLACE "^[^.]+\\.(.+\\..+)$" "\\1" _veyra_default_domain "${_veyra_host}")
set(VEYRA_SERVICE_DOMAIN "${_veyra_default_domain}" CACHE STRING
  "The service's own domain: its checkout pages are trusted on it and below it")
string(TOLOWER "${VEYRA_SERVICE_DOMAIN}" VEYRA_SERVICE_DOMAIN_LOWER)

set(_veyra_suffixes "/usr/share/publicsuffix/public_suffix_list.dat")
if(NOT EXISTS "${_veyra_suffixes}")
  message(FATAL_ERROR "${_veyra_suffixes} is missing (Debian package publicsuffix): "
    "the service domain cannot be checked")
endif()
if(NOT VEYRA_SERVICE_DOMAIN_LOWER MATCHES "\\.")
  message(FATAL_ERROR "VEYRA_SERVICE_DOMAIN '${VEYRA_SERVICE_DOMAIN}' is a top-level domain")
endif()
# A rule "*.parent" makes every child of parent a suffix; "!name" excepts one name again.
string(REGEX REPLACE "^[^.]+\\." "" _veyra_parent "${VEYRA_SERVICE_DOMAIN_LOWER}")
file(STRINGS "${_veyra_suffixes}" _veyra_rules REGEX
  "^(!?${VEYRA_SERVICE_DOMAIN_LOWER}|\\*\\.${_veyra_parent})$")
list(FIND _veyra_rules "!${VEYRA_SERVICE_DOMAIN_LOWER}" _veyra_excepted)
if(_veyra_rules AND _veyra_excepted EQUAL -1)
  message(FATAL_ERROR "VEYRA_SERVICE_DOMAIN '${VEYRA_SERVICE_DOMAIN}' is a public suffix: "
    "every site under it would count as the service's checkout. Name the service's own domain.")
endif()
message(STATUS "Service host ${VEYRA_SERVICE_HOST}, checkout pages trusted under ${VEYRA_SERVICE_DOMAIN_LOWER}")
