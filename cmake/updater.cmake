# Helpers shared by every CMakeLists of the project.

# Strict warnings for a target of our own.
function(updater_warnings target)
  target_compile_options(${target} PRIVATE ${UPDATER_WARNINGS})
endfunction()

# The updater itself is plain procedural code: no exceptions, no RTTI, small.
function(updater_lean target)
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
endfunction()
