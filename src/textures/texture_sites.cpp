#include "textures/texture_sites.h"

PatchSite CreateTextureFromFileInMemorySite = nullptr;
PatchSite CreateTextureFromFileInMemoryExSite = nullptr;
