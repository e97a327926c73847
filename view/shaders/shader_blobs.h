// The view's compiled shaders: DXBC containers with the chunks ISGN, OSGN and
// SHDR, for CreateVertexShader, CreateGeometryShader, CreatePixelShader and
// CreateInputLayout. Assembled at build time from the .asm files beside this
// header; shader_blob_sizes.h (generated) holds the byte counts.
//
// Inputs of both vertex shaders: "XYZ" (float3) and, lit only, "CLR" (rgb of
// a float4). Constant buffer 0 holds the frame (view-projection rows 0-3, eye
// 4, light 5), constant buffer 1 the object (model rows 0-3, colour 7, the
// overhang tint 8), constant buffer 2 the section: the plane in the world (register 0, kept
// where x·p + w >= 0; all zeros keeps everything) and the cap rectangle
// (corner 1, edges 2 and 3).
#pragma once
#include <cstddef>
#include <cstdint>

#include "shader_blob_sizes.h"

// vs_4_0: position, eye-to-vertex vector, tinted colour.
extern const uint8_t kLitVertexShader[kLitVertexShaderSize];
// gs_4_0: flat face normal turned towards the eye, light direction, the
// distance from the section plane.
extern const uint8_t kFaceGeometryShader[kFaceGeometryShaderSize];
// ps_4_0: lit colour.
extern const uint8_t kLitPixelShader[kLitPixelShaderSize];
// vs_4_0: position as the lit vertex shader, object colour, the distance
// from the section plane.
extern const uint8_t kOutlineVertexShader[kOutlineVertexShaderSize];
// ps_4_0: the object colour, unlit.
extern const uint8_t kOutlinePixelShader[kOutlinePixelShaderSize];

// With a section:
// vs_4_0: the cap rectangle's corners from the vertex number; no vertex input.
extern const uint8_t kSectionCapVertexShader[kSectionCapVertexShaderSize];
// ps_4_0: the cap's stripes in the darkened object colour.
extern const uint8_t kSectionCapPixelShader[kSectionCapPixelShaderSize];
