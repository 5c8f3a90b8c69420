#pragma once
// Shared by the two halves of the OpenGL backend: D3D8GL.cpp (runtime, adapters, windows) and
// D3D8GLDevice.cpp (the device and its resources). Not for use outside src/platform.
#include <SDL.h>
#include <SDL_opengl.h>

#include <string>
#include <type_traits>

#include "platform/D3D8.h"

namespace d3dgl {

// ---- window state ---------------------------------------------------------------------------
struct TWindowState {
  bool Focused = true;
  bool Minimized = false;
};
TWindowState WindowState(HWND window);
// The size in pixels of what the window shows. SDL's own figure can be one the window never
// got (a full-screen request that no window manager carried out); ask the window system.
void DrawableSize(HWND window, int& w, int& h);

// ---- GL entry points past 1.1 ---------------------------------------------------------------
struct TGL {
  bool Loaded = false;
  PFNGLGENFRAMEBUFFERSPROC GenFramebuffers;
  PFNGLDELETEFRAMEBUFFERSPROC DeleteFramebuffers;
  PFNGLBINDFRAMEBUFFERPROC BindFramebuffer;
  PFNGLFRAMEBUFFERRENDERBUFFERPROC FramebufferRenderbuffer;
  PFNGLFRAMEBUFFERTEXTURE2DPROC FramebufferTexture2D;
  PFNGLCHECKFRAMEBUFFERSTATUSPROC CheckFramebufferStatus;
  PFNGLGENRENDERBUFFERSPROC GenRenderbuffers;
  PFNGLDELETERENDERBUFFERSPROC DeleteRenderbuffers;
  PFNGLBINDRENDERBUFFERPROC BindRenderbuffer;
  PFNGLRENDERBUFFERSTORAGEPROC RenderbufferStorage;
  PFNGLBLITFRAMEBUFFERPROC BlitFramebuffer;
  PFNGLGENBUFFERSPROC GenBuffers;
  PFNGLDELETEBUFFERSPROC DeleteBuffers;
  PFNGLBINDBUFFERPROC BindBuffer;
  PFNGLBUFFERDATAPROC BufferData;
  PFNGLBUFFERSUBDATAPROC BufferSubData;
  PFNGLCREATESHADERPROC CreateShader;
  PFNGLSHADERSOURCEPROC ShaderSource;
  PFNGLCOMPILESHADERPROC CompileShader;
  PFNGLGETSHADERIVPROC GetShaderiv;
  PFNGLGETSHADERINFOLOGPROC GetShaderInfoLog;
  PFNGLDELETESHADERPROC DeleteShader;
  PFNGLCREATEPROGRAMPROC CreateProgram;
  PFNGLATTACHSHADERPROC AttachShader;
  PFNGLBINDATTRIBLOCATIONPROC BindAttribLocation;
  PFNGLLINKPROGRAMPROC LinkProgram;
  PFNGLGETPROGRAMIVPROC GetProgramiv;
  PFNGLGETPROGRAMINFOLOGPROC GetProgramInfoLog;
  PFNGLUSEPROGRAMPROC UseProgram;
  PFNGLDELETEPROGRAMPROC DeleteProgram;
  PFNGLGETUNIFORMLOCATIONPROC GetUniformLocation;
  PFNGLUNIFORM1IPROC Uniform1i;
  PFNGLUNIFORM1FPROC Uniform1f;
  PFNGLUNIFORM2FPROC Uniform2f;
  PFNGLUNIFORM4FPROC Uniform4f;
  PFNGLVERTEXATTRIBPOINTERPROC VertexAttribPointer;
  PFNGLENABLEVERTEXATTRIBARRAYPROC EnableVertexAttribArray;
  PFNGLDISABLEVERTEXATTRIBARRAYPROC DisableVertexAttribArray;
  PFNGLDRAWRANGEELEMENTSPROC DrawRangeElements;
  PFNGLACTIVETEXTUREPROC ActiveTexture;

  bool Load() {
    if (Loaded) return true;
    bool ok = true;
    auto get = [&](auto& fn, const char* name) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(SDL_GL_GetProcAddress(name));
      ok = ok && fn;
    };
    get(GenFramebuffers, "glGenFramebuffers");
    get(DeleteFramebuffers, "glDeleteFramebuffers");
    get(BindFramebuffer, "glBindFramebuffer");
    get(FramebufferRenderbuffer, "glFramebufferRenderbuffer");
    get(FramebufferTexture2D, "glFramebufferTexture2D");
    get(CheckFramebufferStatus, "glCheckFramebufferStatus");
    get(GenRenderbuffers, "glGenRenderbuffers");
    get(DeleteRenderbuffers, "glDeleteRenderbuffers");
    get(BindRenderbuffer, "glBindRenderbuffer");
    get(RenderbufferStorage, "glRenderbufferStorage");
    get(BlitFramebuffer, "glBlitFramebuffer");
    get(GenBuffers, "glGenBuffers");
    get(DeleteBuffers, "glDeleteBuffers");
    get(BindBuffer, "glBindBuffer");
    get(BufferData, "glBufferData");
    get(BufferSubData, "glBufferSubData");
    get(CreateShader, "glCreateShader");
    get(ShaderSource, "glShaderSource");
    get(CompileShader, "glCompileShader");
    get(GetShaderiv, "glGetShaderiv");
    get(GetShaderInfoLog, "glGetShaderInfoLog");
    get(DeleteShader, "glDeleteShader");
    get(CreateProgram, "glCreateProgram");
    get(AttachShader, "glAttachShader");
    get(BindAttribLocation, "glBindAttribLocation");
    get(LinkProgram, "glLinkProgram");
    get(GetProgramiv, "glGetProgramiv");
    get(GetProgramInfoLog, "glGetProgramInfoLog");
    get(UseProgram, "glUseProgram");
    get(DeleteProgram, "glDeleteProgram");
    get(GetUniformLocation, "glGetUniformLocation");
    get(Uniform1i, "glUniform1i");
    get(Uniform1f, "glUniform1f");
    get(Uniform2f, "glUniform2f");
    get(Uniform4f, "glUniform4f");
    get(VertexAttribPointer, "glVertexAttribPointer");
    get(EnableVertexAttribArray, "glEnableVertexAttribArray");
    get(DisableVertexAttribArray, "glDisableVertexAttribArray");
    get(DrawRangeElements, "glDrawRangeElements");
    get(ActiveTexture, "glActiveTexture");
    Loaded = ok;
    return ok;
  }
};
extern TGL gl;

void SetContextAttributes();

struct TGLInfo {
  bool Ok = false;
  std::string Vendor, Renderer, Version;
  int Major = 0, Minor = 0;
  int MaxTexture = 0;
  float MaxPointSize = 1;
};
// Asked once, on a hidden context of its own.
const TGLInfo& GLInfo();

bool IsBackBufferFormat(D3DFORMAT f);
bool IsDepthFormat(D3DFORMAT f);

// How a D3D colour format travels to GL: upload format/type, and the internal format (wide
// enough that the stored bits come back exactly). A8R3G3B2 has no GL type: converted first.
struct TUpload {
  GLenum Internal, Format, Type;
  bool Convert;
};
bool UploadOf(D3DFORMAT f, TUpload& u);

// External references decide whether an object is alive for the caller (and for Reset's
// default-pool rule); the device's pins on bound objects only keep the memory.
template <class I>
class TGLObject : public I {
public:
  ULONG AddRef() override {
    if (Refs++ == 0) Revived();
    return Refs;
  }
  ULONG Release() override {
    ULONG n = --Refs;
    if (n == 0) {
      Released();
      if (Pins == 0) delete this;
    }
    return n;
  }
  void Pin() { ++Pins; }
  void Unpin() {
    if (--Pins == 0 && Refs == 0) delete this;
  }

protected:
  virtual void Released() {}
  virtual void Revived() {}
  ULONG Refs = 1;
  ULONG Pins = 0;
};

// A device on the window (made current there); the caller owns the reference.
HRESULT CreateDevice(HWND window, const D3DPRESENT_PARAMETERS& params, IDirect3DDevice8** device);

}  // namespace d3dgl
