// Section cap vertex shader, vs_4_0: what section_cap_vertex.asm computes,
// in HLSL. A strip of four vertices without a vertex buffer.

cbuffer FrameConstants : register(b0)
{
    float4 viewProjection[4];  // rows; points are row vectors
};

cbuffer SectionConstants : register(b2)
{
    float4 plane;   // not read
    float4 corner;  // the cap rectangle in the world: a corner, then its two edges
    float4 edgeU;
    float4 edgeV;
};

float4 main(uint id : SV_VertexID) : SV_Position
{
    // Vertex n lies at (n & 1, n >> 1) in edge units.
    float2 at = float2(id & 1, id >> 1);
    float3 world = corner.xyz + at.x * edgeU.xyz + at.y * edgeV.xyz;
    return world.x * viewProjection[0] + world.y * viewProjection[1] + world.z * viewProjection[2]
         + viewProjection[3];
}
