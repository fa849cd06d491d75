#pragma once

#include <string>

// Cache names of the sources that failed to compile in this run: they go
// straight to D3DX from then on, without another try of the compiler.
bool IsRefusedSource(const std::wstring& name);
void RememberRefusedSource(const std::wstring& name);
