#pragma once

// Redirects the game's three math routines to the variants this processor
// supports; called inside the load transaction. The remover names the same
// variants, so it undoes exactly what the installer queued.
void InstallMathReplacements();
void RemoveMathReplacements();
