// Outline pixel shader, ps_4_0: what outline_pixel.asm computes, in HLSL.

struct OutlineVertex
{
    float4 position : SV_Position;             // not read
    nointerpolation float3 colour : Texcoord0;
};

float4 main(OutlineVertex p) : SV_TARGET
{
    return float4(p.colour, 1);
}
