# Install rules: the engine's static libraries with their headers under
# include/deridar, a CMake package (find_package(Deridar) gives
# Deridar::engine, Deridar::platform and Deridar::dataset), a pkg-config
# file, and the programs in bin/.
include(CMakePackageConfigHelpers)

set_target_properties(deridar_platform PROPERTIES EXPORT_NAME platform)
set_target_properties(deridar PROPERTIES EXPORT_NAME engine)
set(DERIDAR_INSTALL_LIBS deridar_platform deridar)
if(TARGET deridar_dataset)
  set_target_properties(deridar_dataset PROPERTIES EXPORT_NAME dataset)
  list(APPEND DERIDAR_INSTALL_LIBS deridar_dataset)
endif()
install(TARGETS ${DERIDAR_INSTALL_LIBS} EXPORT DeridarTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})

# The public headers keep their folders: engine/..., platform/..., dataset/...
foreach(dir engine platform dataset)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/${dir}/
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/deridar/${dir}
    FILES_MATCHING PATTERN "*.h")
endforeach()

set(DERIDAR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Deridar)
install(EXPORT DeridarTargets NAMESPACE Deridar:: DESTINATION ${DERIDAR_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/DeridarConfig.cmake.in
  ${PROJECT_BINARY_DIR}/DeridarConfig.cmake INSTALL_DESTINATION ${DERIDAR_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/DeridarConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/DeridarConfig.cmake
  ${PROJECT_BINARY_DIR}/DeridarConfigVersion.cmake DESTINATION ${DERIDAR_CMAKE_DIR})

# The pkg-config file finds the prefix from its own place, so that an install
# moved or made with --prefix still points at its files.
file(RELATIVE_PATH DERIDAR_PC_TO_PREFIX /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
set(DERIDAR_PC_LIBS "-lderidar -lderidar_platform")
if(TARGET deridar_dataset)
  set(DERIDAR_PC_LIBS "-lderidar_dataset ${DERIDAR_PC_LIBS}")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/deridar.pc.in ${PROJECT_BINARY_DIR}/deridar.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/deridar.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

foreach(program deridar_tool mkphone_tool phonebook)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
