#pragma once

#include <d3dx9effect.h>

#include "shadercache/cache_key.h"

// Whether D3DCompile of D3DCOMPILER_47.dll is there. Looked for once, on the
// first call; its absence is logged then, as one warning.
bool CompilerAvailable();

// Compiles effect source for fx_2_0 at optimisation level 3 with
// D3DCompile. On success (result 0) `compiled` holds the compiled effect
// object; on failure it is empty and the result is the compiler's, or E_FAIL
// when the compiler is not available. The compiler's messages are dropped.
HRESULT CompileEffect(const void* source, uint32_t length, const D3DXMACRO* macros, ID3DXInclude* include,
                      ByteString& compiled);
