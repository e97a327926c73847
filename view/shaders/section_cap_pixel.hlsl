// Section cap pixel shader, ps_4_0: what section_cap_pixel.asm computes, in
// HLSL. Diagonal stripes of the darkened object colour, so that a cut face
// never passes for a lit surface.

cbuffer ObjectConstants : register(b1)
{
    float4 model[4];      // not read
    float4 normalRows[3]; // not read
    float4 objectColour;  // rgb
};

float4 main(float4 position : SV_Position) : SV_TARGET
{
    // Stripes eight pixels apart, half of them lighter.
    float shade = frac((position.x + position.y) * 0.125) < 0.5 ? 0.5 : 0.25;
    // The square approximates sRGB to linear, as in the lit pixel shader.
    return float4(objectColour.rgb * objectColour.rgb * shade, 1);
}
