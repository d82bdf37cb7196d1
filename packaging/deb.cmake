# The Debian package (`make deb`): CPack's DEB generator over the install component `deb`,
# which holds what the package ships as Debian lays it out. Its rules are EXCLUDE_FROM_ALL,
# so `make install` and its manifest hold none of them (`make install` has rules of its own
# for the same files). The target `deb_files`, which `make deb`
# builds with the binary, makes the gzipped pages and changelog.

set(deb_dir ${CMAKE_BINARY_DIR}/deb-files)
set(deb_gz ${deb_dir}/kestra.1.gz ${deb_dir}/kestra-plot.1.gz ${deb_dir}/changelog.gz)
# kestra-plot's page is the one `make install` installs (${plot_page}, made from its --help).
# gzip -9n: maximum compression, no name or timestamp in the header, as Debian wants.
add_custom_command(OUTPUT ${deb_gz}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${deb_dir}
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/man/kestra.1 ${plot_page}
    ${PROJECT_SOURCE_DIR}/packaging/changelog ${deb_dir}
  COMMAND gzip -9nf ${deb_dir}/kestra.1 ${deb_dir}/kestra-plot.1 ${deb_dir}/changelog
  DEPENDS man/kestra.1 ${plot_page} packaging/changelog VERBATIM)
add_custom_target(deb_files DEPENDS ${deb_gz})

set(deb_component COMPONENT deb EXCLUDE_FROM_ALL)
install(TARGETS kestra RUNTIME DESTINATION bin ${deb_component})
install(PROGRAMS tools/kestra-plot DESTINATION bin ${deb_component})
install(DIRECTORY python/kestra DESTINATION ${python_dir} ${deb_component}
  PATTERN __pycache__ EXCLUDE PATTERN *.pyc EXCLUDE)
if(KESTRA_PYTHON)
  install(TARGETS kestra_python_module LIBRARY DESTINATION ${python_dir}/kestra ${deb_component})
endif()
install(FILES ${deb_dir}/kestra.1.gz ${deb_dir}/kestra-plot.1.gz DESTINATION share/man/man1
  ${deb_component})
install(FILES packaging/copyright ${deb_dir}/changelog.gz DESTINATION share/doc/kestra
  ${deb_component})

# The workflow, each file with its mode; what a run may leave in the tree stays out (as
# `make install` has it).
install(DIRECTORY workflow/ DESTINATION share/kestra/workflow USE_SOURCE_PERMISSIONS
  ${deb_component} PATTERN .snakemake EXCLUDE PATTERN __pycache__ EXCLUDE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestra)
set(CPACK_PACKAGE_CONTACT
  "KESTRA maintainers <maintainers@users.noreply.c-seed-d4b4d6f6.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find compositionally biased segments in DNA")
# One paragraph, lines under 80 columns: CPack indents each line for the control file.
set(CPACK_PACKAGE_DESCRIPTION "\
KESTRA marks the positions of a FASTA entry that hold special residues,
finds stretches where they are dense, scores each stretch with a
scan-statistic p-value and writes a plain-text report; on request, the
sequence with the significant segments masked, and BED.
This package holds kestra, kestra-plot (draws a report with matplotlib;
the Python package kestra.plot), the Python package kestra (scan, mask
and read in memory), the manual pages, and the Snakemake workflow under
/usr/share/kestra.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)   # kestra_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION science)
# The binary's shared libraries by dpkg-shlibdeps; kestra-plot's Python modules by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3, python3-matplotlib, python3-numpy")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS snakemake)
# Removal first takes away any bytecode of the Python package (packaging/prerm).
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# Only the component `deb`, installed under /usr (CPack's default prefix for DEB).
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};kestra;deb;/")
include(CPack)
