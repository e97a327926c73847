// Outline vertex shader, vs_4_0: what outline_vertex.asm computes, in HLSL.
// The position is computed exactly as in the lit vertex shader, so that the
// edges land on the depth of their faces; the distance from the section
// plane cuts away the removed side.

cbuffer FrameConstants : register(b0)
{
    float4 viewProjection[4];  // rows; points are row vectors
};

cbuffer ObjectConstants : register(b1)
{
    float4 model[4];      // rows
    float4 normalRows[3]; // not read
    float4 objectColour;  // rgb
};

cbuffer SectionConstants : register(b2)
{
    float4 plane;  // kept where dot(plane.xyz, p) + plane.w >= 0; all zeros keeps everything
};

struct OutlineVertex
{
    float4 position : SV_Position;
    float3 colour : Texcoord0;
    float clip : SV_ClipDistance;
};

OutlineVertex main(float3 xyz : XYZ)
{
    OutlineVertex o;
    float3 world = xyz.x * model[0].xyz + xyz.y * model[1].xyz + xyz.z * model[2].xyz + model[3].xyz;
    o.position = world.x * viewProjection[0] + world.y * viewProjection[1] + world.z * viewProjection[2]
               + viewProjection[3];
    o.colour = objectColour.rgb;
    o.clip = dot(world, plane.xyz) + plane.w;
    return o;
}
