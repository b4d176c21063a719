# Who the Debian package (and its changelog) names as maintainer, "Name <address>":
# VG_PACKAGE_MAINTAINER when it holds an address; otherwise the name from it, DEBFULLNAME
# or the checkout's git identity, and the address from VG_CONTACT_EMAIL, DEBEMAIL or the
# checkout's git identity, the way Debian's own tools find the person who builds.
set(VG_PACKAGE_MAINTAINER "" CACHE STRING
    "Maintainer of the Debian package: \"Name <address>\", or a name (empty: see VgMaintainer.cmake)")

function(vg_git_config key out)
  find_package(Git QUIET)
  set(value "")
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} config ${key} WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE value OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

if(VG_PACKAGE_MAINTAINER MATCHES "<.+@.+>")
  set(VG_DEBIAN_MAINTAINER "${VG_PACKAGE_MAINTAINER}")
else()
  set(name "${VG_PACKAGE_MAINTAINER}")
  if(NOT name)
    set(name "$ENV{DEBFULLNAME}")
  endif()
  if(NOT name)
    vg_git_config(user.name name)
  endif()
  if(NOT name)
    set(name "Vellumguard developers")
  endif()
  set(address "${VG_CONTACT_EMAIL}")
  if(NOT address)
    set(address "$ENV{DEBEMAIL}")
  endif()
  if(NOT address)
    vg_git_config(user.email address)
  endif()
  if(address)
    set(VG_DEBIAN_MAINTAINER "${name} <${address}>")
  else()
    set(VG_DEBIAN_MAINTAINER "${name}")
    message(WARNING "The Debian package has no maintainer address: set VG_PACKAGE_MAINTAINER "
                    "or DEBEMAIL, or lintian refuses it")
  endif()
endif()
