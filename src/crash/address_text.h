#pragma once

#include <cstddef>
#include <cstdint>

// Texts for addresses in the crash report. Everything here reads memory
// guarded and takes no lock and no heap.

// A game site the plug-in changed (a redirection or a jump write) and its
// name, handed over by the plug-in at load.
struct ChangedSite {
  uint32_t address;
  const char* name;
};
void SetChangedSites(const ChangedSite* sites, size_t count);

// The changed site `address` belongs to: inside the site's own bytes, or in
// the first kReplacementReach bytes of the replacement its jump leads to
// (with no other replacement starting between). Null when none.
const char* ChangedSiteAt(uintptr_t address);

constexpr size_t kAddressText = 320;

// "name+0x1a2b" of the module holding `address`, or "no module".
void DescribeAddress(uintptr_t address, char (&text)[kAddressText]);

// What `value` points to, when that is worth telling: a module and offset
// (with the changed site), an object whose class the Microsoft compiler's
// run-time type information names ("object of class TESObjectREFR"), or
// "readable memory". Empty otherwise.
void DescribePointee(uintptr_t value, char (&text)[kAddressText]);

// The class name of the object at `object` from its vtable's complete-object
// locator, undecorated ("TESObjectREFR", "Outer::Inner"); false when there is
// none.
bool ObjectClassName(uintptr_t object, char* name, size_t size);

// Copies `size` bytes at `address` into `out`; false when they cannot be read.
bool Read(uintptr_t address, void* out, size_t size);

// 1019 as "1,019".
void FormatThousands(unsigned value, char (&text)[16]);
