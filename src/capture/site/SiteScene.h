#pragma once
// The picture of a virtual camera of the site: each camera looks at a scene
// of its own (colours, pattern and a landmark follow from its number), and
// where its head points and how far it zooms decide which part is seen.

#include "capture/site/SiteView.h"

#include <cstdint>

namespace tarvelo {

// Paints what `view` sees into a BGRx picture.
void PaintSiteScene(const SiteView& view, uint8_t* bgrx, int width, int height, int stride);

}  // namespace tarvelo
