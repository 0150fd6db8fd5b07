# find_package(tarnwel): the library as tarnwel::tarnwel (shared) and
# tarnwel::tarnwel_static, whose users also link threads.
include(CMakeFindDependencyMacro)
find_dependency(Threads)
include(${CMAKE_CURRENT_LIST_DIR}/tarnwelTargets.cmake)
