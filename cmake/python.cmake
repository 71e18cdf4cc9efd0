# Whether the Python module psd (python/) is built: with -DPSD_BUILD_PYTHON=ON it must be, with
# OFF it is not, and left unset it is built when pybind11 and the Python headers are found, the
# configure output saying once why not otherwise. psd itself never needs either.
#
# The module is built for /usr/bin/python3 when it exists, as Debian's pybind11, numpy and pandas
# install for that interpreter; -DPython3_EXECUTABLE=... names another.

set(PSD_PYTHON_MODULE OFF)
if(NOT DEFINED PSD_BUILD_PYTHON OR PSD_BUILD_PYTHON)
  set(psd_python_missing "")
  if(CMAKE_CROSSCOMPILING)
    set(psd_python_missing "this is a cross-build")
  elseif(PSD_SANITIZE OR PSD_SANITIZE_THREADS OR PSD_FUZZ)
    # An interpreter built without the sanitizer runtime cannot load a module built with it.
    set(psd_python_missing "this build is instrumented (sanitizers or fuzzing)")
  elseif(NOT PSD_BUILD_SUMMARY)
    set(psd_python_missing "psd-summary is not built (PSD_BUILD_SUMMARY=OFF)")
  else()
    if(NOT DEFINED Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
      set(Python3_EXECUTABLE /usr/bin/python3 CACHE FILEPATH "The Python the module is built for")
    endif()
    find_package(Python3 COMPONENTS Interpreter Development.Module QUIET)
    if(Python3_FOUND)
      find_package(pybind11 CONFIG QUIET)
    endif()
    if(NOT Python3_FOUND)
      set(psd_python_missing "no Python headers were found (apt-get install python3-dev)")
    elseif(NOT pybind11_FOUND)
      set(psd_python_missing "pybind11 was not found (apt-get install pybind11-dev)")
    endif()
  endif()
  if(psd_python_missing STREQUAL "")
    set(PSD_PYTHON_MODULE ON)
  elseif(PSD_BUILD_PYTHON)
    message(FATAL_ERROR "PSD_BUILD_PYTHON is ON, but ${psd_python_missing}.")
  else()
    message(STATUS "The Python module psd is not built: ${psd_python_missing}.")
  endif()
endif()

# Where cmake --install puts the package, under the prefix: Debian's own layout for Python
# packages; PYTHONPATH=<prefix>/lib/python3/dist-packages finds it under any other prefix.
set(PSD_PYTHON_INSTALL_DIR lib/python3/dist-packages
    CACHE STRING "Where the Python package psd is installed, relative to the prefix")
