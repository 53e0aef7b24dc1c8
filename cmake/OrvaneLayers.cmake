# The layers of the program and what each folder may use. Everything that enforces
# the dependency direction reads this one table: the configure-time check of every
# target's link closure and the check of every #include (cmake/OrvaneCheckIncludes.cmake).
#
#   orvane (shell/qt)        orvane-cli (cli)        DVD2AVI_PVAVIEW (viewer)
#   shell  ->  views  ->  output  ->  media  ->  source  ->  core  ->  platform
#                            \-> cut -> source
#   resources: data tables, no dependencies; resources/bitmaps: the window's bitmaps
#   compiled in as Qt resources (Qt side)
#
# The engine (every folder but platform/qt, shell/qt and viewer) uses the C++
# standard library and our own headers only; the system calls it needs are in
# platform/posix, the one engine folder that includes system headers. media/ (MPEG-2
# decoding, to come encoding and containers) also links FFmpeg's libraries, and is the
# only folder that does: the viewer decodes through it. media/ uses source, core and
# platform, never cut, output or anything above. Folders that are not in the table
# (tools, bench, fuzz, tests) sit on top and may use anything. A folder of the table
# that does not exist yet is simply not there to check.

set(ORVANE_LAYERS
  platform platform/posix platform/fake core source cut media output views shell resources cli
  resources/bitmaps platform/qt shell/qt viewer)

set(_engine platform platform/posix core source cut media output views shell resources)
set(ORVANE_USES_platform "")
set(ORVANE_USES_platform/posix "")
set(ORVANE_USES_platform/fake platform platform/posix)
set(ORVANE_USES_core platform platform/posix)
set(ORVANE_USES_source core platform platform/posix)
set(ORVANE_USES_cut source core platform platform/posix)
set(ORVANE_USES_media source core platform platform/posix)
set(ORVANE_USES_output media cut source core platform platform/posix)
set(ORVANE_USES_views output media cut source core platform platform/posix)
set(ORVANE_USES_shell views output media cut source core platform platform/posix resources)
set(ORVANE_USES_resources "")
set(ORVANE_USES_cli ${_engine})
set(ORVANE_USES_resources/bitmaps "")
set(ORVANE_USES_platform/qt platform platform/posix resources resources/bitmaps)
set(ORVANE_USES_shell/qt ${_engine} platform/qt resources/bitmaps)
set(ORVANE_USES_viewer platform platform/posix platform/qt media source core)
unset(_engine)

# Who may link or include Qt and FFmpeg's libraries.
set(ORVANE_QT_FOLDERS resources/bitmaps platform/qt shell/qt viewer)
set(ORVANE_FFMPEG_FOLDERS media)
# Who may include system headers (POSIX, Linux, ...): everyone else includes the
# C++ standard library and the compiler's intrinsics only.
set(ORVANE_SYSTEM_FOLDERS platform/posix platform/qt shell/qt viewer)
set(ORVANE_STANDARD_HEADERS
  algorithm any array atomic barrier bit bitset cassert cctype cerrno cfenv cfloat charconv
  chrono cinttypes climits clocale cmath codecvt compare complex concepts condition_variable
  coroutine csetjmp csignal cstdarg cstddef cstdint cstdio cstdlib cstring ctime cuchar cwchar
  cwctype deque exception execution filesystem forward_list fstream functional future
  initializer_list iomanip ios iosfwd iostream istream iterator latch limits list locale map
  memory memory_resource mutex new numbers numeric optional ostream queue random ranges ratio
  regex scoped_allocator semaphore set shared_mutex source_location span sstream stack
  stdexcept stop_token streambuf string string_view syncstream system_error thread tuple
  type_traits typeindex typeinfo unordered_map unordered_set utility valarray variant vector
  version)
set(ORVANE_INTRINSICS_PATTERN "^[a-z0-9]*intrin\\.h$|^arm_neon\\.h$")

# Names (lower case) that stand for Qt or FFmpeg: targets, library files, flags, headers.
set(ORVANE_QT_PATTERN "(^|[^a-z0-9])qt([^a-z]|$)|qt[4-7]")
set(ORVANE_FFMPEG_PATTERN "libav|avcodec|avformat|avutil|avfilter|avdevice|swscale|swresample|postproc|ffmpeg")

# The folder of the table that `path` (relative to the project, e.g. "platform/qt/X.cpp"
# or "platform/qt") lies in, the longest match; empty when none.
function(orvane_layer_of path out)
  set(_best "")
  foreach(f IN LISTS ORVANE_LAYERS)
    string(LENGTH "${f}" _n)
    string(LENGTH "${_best}" _bn)
    if((path STREQUAL f OR path MATCHES "^${f}/") AND _n GREATER _bn)
      set(_best "${f}")
    endif()
  endforeach()
  set(${out} "${_best}" PARENT_SCOPE)
endfunction()

# Why `folder` may not use `name` (a lower-case library or header name), or empty.
function(orvane_foreign_reason folder name out)
  set(_why "")
  if(name MATCHES "${ORVANE_FFMPEG_PATTERN}" AND NOT folder IN_LIST ORVANE_FFMPEG_FOLDERS)
    set(_why "FFmpeg's libraries are for media/ only")
  elseif(name MATCHES "${ORVANE_QT_PATTERN}" AND NOT folder IN_LIST ORVANE_QT_FOLDERS)
    set(_why "Qt is for resources/bitmaps, platform/qt, shell/qt and viewer/ only")
  endif()
  set(${out} "${_why}" PARENT_SCOPE)
endfunction()

# Why `folder` may not include the header <name> that is neither ours, Qt's nor
# FFmpeg's, or empty.
function(orvane_system_header_reason folder name out)
  set(_why "")
  if(NOT name IN_LIST ORVANE_STANDARD_HEADERS AND NOT name MATCHES "${ORVANE_INTRINSICS_PATTERN}"
     AND NOT folder IN_LIST ORVANE_SYSTEM_FOLDERS)
    list(JOIN ORVANE_SYSTEM_FOLDERS "/, " _folders)
    set(_why "system headers are for ${_folders}/ only (the rest uses the C++ standard library and our own headers)")
  endif()
  set(${out} "${_why}" PARENT_SCOPE)
endfunction()
