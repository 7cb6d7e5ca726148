# Run by CPack on the staged tree before it packs it: what Debian asks of a package beyond the
# installed files (the manual, the changelog and the README compressed, the copyright, the
# commands stripped), and modes that do not depend on the umask, so that the package can be
# reproduced. CPack takes the times inside from SOURCE_DATE_EPOCH.
set(root ${CPACK_TEMPORARY_INSTALL_DIRECTORY})
set(doc ${root}/usr/share/doc/semsignal)
file(MAKE_DIRECTORY ${doc})
file(COPY_FILE ${CPACK_SEMSIGNAL_SOURCE_DIR}/packaging/debian/copyright ${doc}/copyright)
file(COPY_FILE ${CPACK_SEMSIGNAL_SOURCE_DIR}/packaging/debian/changelog ${doc}/changelog)
file(COPY_FILE ${CPACK_SEMSIGNAL_SOURCE_DIR}/README.md ${doc}/README.md)
execute_process(COMMAND gzip -9n ${doc}/changelog ${doc}/README.md ${root}/usr/share/man/man1/semsignal.1
                        ${root}/usr/share/man/man1/semwait.1 ${root}/usr/share/man/man1/semhold.1
                COMMAND_ERROR_IS_FATAL ANY)
# Stripped as dh_strip strips Debian's own executables: symbols and the compiler's notes alike.
execute_process(COMMAND strip --remove-section=.comment --remove-section=.note
                        ${root}/usr/bin/semsignal ${root}/usr/bin/semwait ${root}/usr/bin/semhold
                COMMAND_ERROR_IS_FATAL ANY)
file(CHMOD_RECURSE ${root}
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
     DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                           WORLD_READ WORLD_EXECUTE)
file(CHMOD ${root}/usr/bin/semsignal ${root}/usr/bin/semwait ${root}/usr/bin/semhold
     PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                 WORLD_EXECUTE)
