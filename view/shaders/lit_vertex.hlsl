// Lit vertex shader, vs_4_0: what lit_vertex.asm computes, in HLSL. The
// program is assembled from the .asm; this file states the intent.

cbuffer FrameConstants : register(b0)
{
    float4 viewProjection[4];  // rows; points are row vectors
    float4 eyePosition;        // xyz
    float4 lightDirection;     // xyz, read by the geometry shader
};

cbuffer ObjectConstants : register(b1)
{
    float4 model[4];      // rows
    float4 normalRows[3]; // not read
    float4 objectColour;  // rgb
};

struct LitVertex
{
    float4 position : SV_Position;
    float3 view : Texcoord0;    // from the eye to the vertex
    float3 colour : Texcoord1;
};

LitVertex main(float3 xyz : XYZ, float4 clr : CLR)
{
    LitVertex o;
    float3 world = xyz.x * model[0].xyz + xyz.y * model[1].xyz + xyz.z * model[2].xyz + model[3].xyz;
    o.position = world.x * viewProjection[0] + world.y * viewProjection[1] + world.z * viewProjection[2]
               + viewProjection[3];
    o.view = world - eyePosition.xyz;
    o.colour = clr.rgb * objectColour.rgb;
    return o;
}
