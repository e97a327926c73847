// Face geometry shader, gs_4_0: what face_geometry.asm computes, in HLSL.

cbuffer FrameConstants : register(b0)
{
    float4 viewProjection[4];
    float4 eyePosition;     // xyz
    float4 lightDirection;  // xyz, unit length
};

cbuffer ObjectConstants : register(b1)
{
    float4 model[4];      // not read
    float4 normalRows[3]; // not read
    float4 objectColour;  // not read
    float4 overhang;      // x: sine of the angle (above 1: off), y: top of the bed, z: 1, or -1 inside out
};

cbuffer SectionConstants : register(b2)
{
    float4 plane;  // kept where dot(plane.xyz, p) + plane.w >= 0; all zeros keeps everything
};

struct LitVertex
{
    float4 position : SV_Position;
    float3 view : Texcoord0;
    float3 colour : Texcoord1;
};

struct FaceVertex
{
    float4 position : SV_Position;
    float3 view : Texcoord0;
    float3 normal : Texcoord1;
    float3 colour : Texcoord2;
    float3 light : Texcoord3;
    float clip : SV_ClipDistance;
};

[maxvertexcount(3)]
void main(triangle LitVertex v[3], inout TriangleStream<FaceVertex> strip)
{
    // The view vectors differ from world positions by the eye only, so they
    // serve as positions for the edges.
    float3 n = normalize(cross(v[2].view - v[0].view, v[1].view - v[0].view));
    // Both sides of a face are lit alike: the normal faces the eye. A face
    // seen edge-on keeps its normal.
    // n is the windings' inward normal: the outward normal points down by n.y.
    bool steep = n.y * overhang.z > overhang.x;
    bool onBed = true;
    [unroll] for (uint k = 0; k < 3; ++k)
        onBed = onBed && eyePosition.y + v[k].view.y <= overhang.y;
    float3 tint = float3(0.80, 0.15, 0.70);  // kOverhangTint
    if (dot(v[0].view, n) > 0)
        n = -n;
    [loop] for (uint i = 0; i < 3; ++i)
    {
        FaceVertex o;
        o.position = v[i].position;
        o.view = v[i].view;
        o.normal = n;
        o.colour = steep && !onBed ? tint : v[i].colour;
        o.light = lightDirection.xyz;
        // The world position is the eye plus the eye-to-vertex vector.
        o.clip = dot(eyePosition.xyz + v[i].view, plane.xyz) + plane.w;
        strip.Append(o);
    }
}
