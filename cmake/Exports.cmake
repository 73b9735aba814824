# quillon_exports_only(TARGET): the shared library TARGET exports only the
# symbols that exports.map beside its CMakeLists names, links with no undefined
# symbol left, and relinks when the map changes.
function(quillon_exports_only target)
    set(map ${CMAKE_CURRENT_SOURCE_DIR}/exports.map)
    target_link_options(${target} PRIVATE -Wl,--version-script=${map} -Wl,--no-undefined)
    set_target_properties(${target} PROPERTIES LINK_DEPENDS ${map})
endfunction()
