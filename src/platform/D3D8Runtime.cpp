#include "platform/D3D8.h"

#include "platform/D3D8GL.h"

#include <algorithm>
#include <cstring>

namespace {
ID3D8Runtime* Installed = nullptr;

struct TResultText {
  HRESULT Result;
  const char* Text;
};
// Our wording of what each result means.
const TResultText kResultTexts[] = {
    {D3D_OK, "No error occurred."},
    {D3DERR_WRONGTEXTUREFORMAT, "The pixel format of the texture surface is not valid."},
    {D3DERR_UNSUPPORTEDCOLOROPERATION, "The device does not support a specified texture-blending operation for color values."},
    {D3DERR_UNSUPPORTEDCOLORARG, "The device does not support a specified texture-blending argument for color values."},
    {D3DERR_UNSUPPORTEDALPHAOPERATION, "The device does not support a specified texture-blending operation for the alpha channel."},
    {D3DERR_UNSUPPORTEDALPHAARG, "The device does not support a specified texture-blending argument for the alpha channel."},
    {D3DERR_TOOMANYOPERATIONS, "The application is requesting more texture-filtering operations than the device supports."},
    {D3DERR_CONFLICTINGTEXTUREFILTER, "The current texture filters cannot be used together."},
    {D3DERR_UNSUPPORTEDFACTORVALUE, "The device does not support the specified texture factor value."},
    {D3DERR_CONFLICTINGRENDERSTATE, "The currently set render states cannot be used together."},
    {D3DERR_UNSUPPORTEDTEXTUREFILTER, "The device does not support the specified texture filter."},
    {D3DERR_CONFLICTINGTEXTUREPALETTE, "The current textures cannot be used simultaneously."},
    {D3DERR_DRIVERINTERNALERROR, "Internal driver error."},
    {D3DERR_NOTFOUND, "The requested item was not found."},
    {D3DERR_MOREDATA, "There is more data available than the specified buffer size can hold."},
    {D3DERR_DEVICELOST, "The device is lost and cannot be restored at the current time, so rendering is not possible."},
    {D3DERR_DEVICENOTRESET, "The device has been lost but can be reset at this time."},
    {D3DERR_NOTAVAILABLE, "This device does not support the queried technique."},
    {D3DERR_OUTOFVIDEOMEMORY, "Direct3D does not have enough display memory to perform the operation."},
    {D3DERR_INVALIDDEVICE, "The requested device type is not valid."},
    {D3DERR_INVALIDCALL, "The method call is invalid. For example, a method's parameter may not be a valid pointer."},
    {D3DERR_DRIVERINVALIDCALL, "The driver reports the call as not valid."},
    {E_OUTOFMEMORY, "Direct3D could not allocate sufficient memory to complete the call."},
    {E_INVALIDARG, "An invalid parameter was passed to the returning function."},
    {E_NOTIMPL, "Not implemented."},
    {E_POINTER, "Invalid pointer."},
    {E_FAIL, "An undetermined error occurred."},
};
}  // namespace

std::string D3DResultDescription(HRESULT result) {
  for (const TResultText& t : kResultTexts)
    if (t.Result == result) return t.Text;
  return "Unknown Error";
}

int D3DFormatBytes(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_R8G8B8: return 3;
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8: return 4;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
    case D3DFMT_A8R3G3B2:
    case D3DFMT_X4R4G4B4: return 2;
    case D3DFMT_R3G3B2:
    case D3DFMT_A8: return 1;
    default: return 0;
  }
}

ID3D8Runtime& D3D8Runtime() { return Installed ? *Installed : D3D8GLRuntime(); }

ID3D8Runtime* SetD3D8Runtime(ID3D8Runtime* runtime) {
  ID3D8Runtime* before = Installed;
  Installed = runtime;
  return before;
}

void D3DDefaultStates(DWORD* rs, DWORD (*ts)[D3DTSS_MAX], bool depth, float maxPointSize) {
  std::fill(rs, rs + D3DRS_MAX, 0u);
  rs[D3DRS_ZENABLE] = depth ? 1 : 0;
  rs[D3DRS_FILLMODE] = D3DFILL_SOLID;
  rs[D3DRS_SHADEMODE] = 2;
  rs[D3DRS_ZWRITEENABLE] = 1;
  rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
  rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
  rs[D3DRS_CULLMODE] = D3DCULL_CCW;
  rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
  rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
  rs[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
  rs[D3DRS_LIGHTING] = 1;
  float one = 1.0f;
  std::memcpy(&rs[D3DRS_POINTSIZE], &one, 4);
  std::memcpy(&rs[D3DRS_POINTSIZE_MIN], &one, 4);
  std::memcpy(&rs[D3DRS_POINTSIZE_MAX], &maxPointSize, 4);
  for (int s = 0; s < 8; ++s) {
    std::fill(ts[s], ts[s] + D3DTSS_MAX, 0u);
    ts[s][D3DTSS_COLOROP] = s == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
    ts[s][D3DTSS_COLORARG1] = D3DTA_TEXTURE;
    ts[s][D3DTSS_COLORARG2] = D3DTA_CURRENT;
    ts[s][D3DTSS_ALPHAOP] = s == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
    ts[s][D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
    ts[s][D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
    ts[s][D3DTSS_ADDRESSU] = D3DTADDRESS_WRAP;
    ts[s][D3DTSS_ADDRESSV] = D3DTADDRESS_WRAP;
    ts[s][D3DTSS_MAGFILTER] = D3DTEXF_POINT;
    ts[s][D3DTSS_MINFILTER] = D3DTEXF_POINT;
    ts[s][D3DTSS_MIPFILTER] = D3DTEXF_NONE;
  }
}
