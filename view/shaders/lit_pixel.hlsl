// Lit pixel shader, ps_4_0: what lit_pixel.asm computes, in HLSL.

struct FaceVertex
{
    float4 position : SV_Position;                  // not read
    centroid float3 view : Texcoord0;
    nointerpolation float3 normal : Texcoord1;
    nointerpolation float3 colour : Texcoord2;
    nointerpolation float3 light : Texcoord3;       // unit length
};

float4 main(FaceVertex p) : SV_TARGET
{
    float3 V = normalize(p.view);
    float3 N = normalize(p.normal);
    float3 L = p.light;
    float3 K = p.colour;
    float3 R = V - 2 * dot(V, N) * N;

    // R and N are world vectors (Y up): the R.y, |R.x|, |N.x| and N.y terms
    // are an environment fixed to the world; L turns with the camera.
    float s = 0.13125 * saturate(R.y) + 0.07 * saturate(R.y + 1) + 0.2625 * abs(R.x)
            + 0.56875 * saturate(dot(R, L));
    s = min(s, 1);
    s *= s;
    s *= s;
    s *= s;
    float D = 0.64 * saturate(dot(N, L)) + 0.064 * abs(N.x) + 0.16 * (0.3 * N.y + 0.6);

    // K * K: a cheap sRGB-to-linear step; the sRGB target encodes back.
    return float4(K * K * D + s, 1);
}
