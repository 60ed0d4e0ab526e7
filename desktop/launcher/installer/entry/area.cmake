# The areas whose headers this area includes (tools/check-area-deps.py holds the build to it).
zorvi_area_depends(base/files desktop/launcher/installer desktop/launcher/installer/ui)
