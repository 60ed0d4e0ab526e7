# The areas whose headers this area includes (tools/check-area-deps.py holds the build to it).
zorvi_area_depends(base base/files base/strings base/threading base/win components/prefs desktop/common/product)
