// Root interface of every exported object and the interface identifiers that cross module
// boundaries. Objects have no reference count: whoever created one destroys it.
#pragma once

#include <windows.h>

namespace ov {

// GUIDs travel by value and are compared field by field.
inline bool SameIid(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) return false;
  }
  return true;
}

}  // namespace ov

class IOvBaseInterface {
 public:
  // The part of the object that implements `iid`, or null when the object lacks it.
  virtual void* QueryInterface(GUID iid) = 0;
};

// {66551AB3-FCA3-BC90-5F42-C5F792E24B51}
constexpr GUID IID_IOvBaseInterface = {
    0x66551AB3, 0xFCA3, 0xBC90, {0x5F, 0x42, 0xC5, 0xF7, 0x92, 0xE2, 0x4B, 0x51}};
// {414E2323-04D0-9833-7641-887C5D8252E9}
constexpr GUID IID_IServPlugin = {
    0x414E2323, 0x04D0, 0x9833, {0x76, 0x41, 0x88, 0x7C, 0x5D, 0x82, 0x52, 0xE9}};
// {D1CB16AC-2778-FBF4-D24D-745F0000C184}
constexpr GUID IID_IGlossel = {
    0xD1CB16AC, 0x2778, 0xFBF4, {0xD2, 0x4D, 0x74, 0x5F, 0x00, 0x00, 0xC1, 0x84}};
// {8D57CCB2-25C7-4D71-464F-C8B800005AC9}
constexpr GUID IID_IGlosselEx = {
    0x8D57CCB2, 0x25C7, 0x4D71, {0x46, 0x4F, 0xC8, 0xB8, 0x00, 0x00, 0x5A, 0xC9}};
// {6AEEF266-03FC-8400-F642-AB72711553AF}
constexpr GUID IID_IBase64 = {
    0x6AEEF266, 0x03FC, 0x8400, {0xF6, 0x42, 0xAB, 0x72, 0x71, 0x15, 0x53, 0xAF}};
// {D41C8FB2-4EF4-9E5E-3623-A752236F0000}
constexpr GUID IID_IBlowfish = {
    0xD41C8FB2, 0x4EF4, 0x9E5E, {0x36, 0x23, 0xA7, 0x52, 0x23, 0x6F, 0x00, 0x00}};
