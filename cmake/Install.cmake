# What an install holds, laid out as the build's lib folder: the modules, their
# type stubs and DllPath.ini at the top, the support libraries in their own
# folder. Run paths are relative to each file ($ORIGIN) and nothing else, so the
# copy works wherever it lands. setup.py installs with `cmake --install`.
# Each stub goes beside its module (editors read it there) and, as PEP 561's
# stub-only package NAME-stubs, where type checkers look in site-packages.
set(DEVICE_STUBS ${PROJECT_SOURCE_DIR}/src/binding/_Device.pyi ${PROJECT_SOURCE_DIR}/w32/python/_w32.pyi)
foreach(stub ${DEVICE_STUBS})
  get_filename_component(stub_name ${stub} NAME)
  configure_file(${stub} ${DEVICE_LIB_DIR}/${stub_name} COPYONLY)
endforeach()

install(TARGETS _Device _w32 LIBRARY DESTINATION .)
install(TARGETS w32 QXDeviceDetector LIBRARY DESTINATION ${DEVICE_SUPPORT_FOLDER})
install(FILES ${DEVICE_LIB_DIR}/DllPath.ini ${DEVICE_STUBS} DESTINATION .)
foreach(stub ${DEVICE_STUBS})
  get_filename_component(module ${stub} NAME_WE)
  install(FILES ${stub} DESTINATION ${module}-stubs RENAME __init__.pyi)
endforeach()
