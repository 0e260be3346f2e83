#pragma once
// The test pattern as the virtual site's camera: the pictures of the video
// source named "scene" in a pipeline are painted over with the scene of the
// camera the site file names, and the element named "sitelabel" (a text
// overlay) shows that camera's number. While there is no site file (no
// simulator running) the source's own pattern passes unchanged.

#include <gst/gst.h>
#include <string>

namespace tarvelo {

// The source description the pipeline needs for AttachSiteSource.
std::string SiteSourceDescription();

void AttachSiteSource(GstElement* pipeline, const std::string& siteFile);

}  // namespace tarvelo
