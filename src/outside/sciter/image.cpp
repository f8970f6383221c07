#include "image.h"

#include <windows.h>
#include <wincodec.h>

#include "framework/scoped_com.h"

namespace sciter_engine {

namespace {

std::wstring Failure(const wchar_t* step, HRESULT hr) {
  wchar_t code[16];
  wsprintfW(code, L"0x%08X", static_cast<unsigned>(hr));
  return std::wstring(step) + L" failed with " + code;
}

// Pictures beyond this are not page graphics (and would cost hundreds of megabytes).
constexpr UINT kMaxSide = 8192;

}  // namespace

bool DecodeImage(const std::string& bytes, Image* image, std::wstring* error) {
  if (bytes.empty() || bytes.size() > 0x7FFFFFFF) {
    *error = L"no picture data";
    return false;
  }
  ov::ScopedComPtr<IWICImagingFactory> factory;
  HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                factory.ReceiveVoid());
  if (hr == CO_E_NOTINITIALIZED) {
    // A thread without COM (the host initialises OLE on its window threads): once for good,
    // as the thread's COM state must outlive the decoders it makes.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                          factory.ReceiveVoid());
  }
  if (FAILED(hr)) {
    *error = Failure(L"the imaging component", hr);
    return false;
  }
  ov::ScopedComPtr<IWICStream> stream;
  hr = factory->CreateStream(stream.Receive());
  if (SUCCEEDED(hr)) {
    hr = stream->InitializeFromMemory(reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data())),
                                      static_cast<DWORD>(bytes.size()));
  }
  ov::ScopedComPtr<IWICBitmapDecoder> decoder;
  if (SUCCEEDED(hr)) hr = factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.Receive());
  if (FAILED(hr)) {
    *error = Failure(L"decoding", hr);
    return false;
  }
  ov::ScopedComPtr<IWICBitmapFrameDecode> frame;
  ov::ScopedComPtr<IWICFormatConverter> converter;
  hr = decoder->GetFrame(0, frame.Receive());
  if (SUCCEEDED(hr)) hr = factory->CreateFormatConverter(converter.Receive());
  if (SUCCEEDED(hr)) {
    hr = converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                               WICBitmapPaletteTypeCustom);
  }
  UINT width = 0, height = 0;
  if (SUCCEEDED(hr)) hr = converter->GetSize(&width, &height);
  if (FAILED(hr)) {
    *error = Failure(L"converting", hr);
    return false;
  }
  if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) {
    *error = L"picture of " + std::to_wstring(width) + L" x " + std::to_wstring(height) + L" pixels refused";
    return false;
  }
  image->width = static_cast<int>(width);
  image->height = static_cast<int>(height);
  image->pixels.assign(static_cast<size_t>(width) * height, 0);
  hr = converter->CopyPixels(nullptr, width * 4, static_cast<UINT>(image->pixels.size() * 4),
                             reinterpret_cast<BYTE*>(image->pixels.data()));
  if (FAILED(hr)) {
    *error = Failure(L"reading the pixels", hr);
    return false;
  }
  return true;
}

}  // namespace sciter_engine
