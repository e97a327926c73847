// Lit pixel shader: a camera-fixed light plus an environment fixed to the
// world (brighter from above, a little from the sides), on the squared
// colour as a cheap sRGB-to-linear step; the sRGB target encodes it back.
ps_4_0
input  SV_Position  v0.xyzw  read none
input  Texcoord0    v1.xyz    // eye-to-point vector, centroid
input  Texcoord1    v2.xyz    // face normal
input  Texcoord2    v3.xyz    // colour
input  Texcoord3    v4.xyz    // light direction, unit length
output SV_TARGET    o0.xyzw

dcl_input_ps linear centroid v1.xyz
dcl_input_ps constant v2.xyz
dcl_input_ps constant v3.xyz
dcl_input_ps constant v4.xyz
dcl_output o0.xyzw
dcl_temps 3

// V in r0, N in r1
dp3 r0.w, v1.xyzx, v1.xyzx
rsq r0.w, r0.w
mul r0.xyz, r0.wwww, v1.xyzx
dp3 r0.w, v2.xyzx, v2.xyzx
rsq r0.w, r0.w
mul r1.xyz, r0.wwww, v2.xyzx

// R = V - 2 (V.N) N
dp3 r0.w, r0.xyzx, r1.xyzx
add r0.w, r0.w, r0.w
mad r0.xyz, -r0.wwww, r1.xyzx, r0.xyzx

// Specular: s = 0.13125 sat(R.y) + 0.07 sat(R.y + 1) + 0.56875 sat(R.L)
// + 0.2625 |R.x|. Every term is >= 0, so min(s, 1) is a saturate.
// S = s^8 by three squarings.
add_sat r2.xy, r0.yyyy, l(0.0, 1.0, 0.0, 0.0)
dp3_sat r2.z, r0.xyzx, v4.xyzx
mov r2.w, |r0.x|
dp4_sat r0.x, r2.xyzw, l(0.13125, 0.07, 0.56875, 0.2625)
mul r0.x, r0.x, r0.x
mul r0.x, r0.x, r0.x
mul r0.x, r0.x, r0.x

// Diffuse: D = 0.64 sat(N.L) + 0.064 |N.x| + 0.16 (0.3 N.y + 0.6)
dp3_sat r0.y, r1.xyzx, v4.xyzx
mad r0.z, r1.y, l(0.3), l(0.6)
mul r0.z, r0.z, l(0.16)
mad r0.z, |r1.x|, l(0.064), r0.z
mad r0.y, r0.y, l(0.64), r0.z

// K^2 D + S
mul r1.xyz, v3.xyzx, v3.xyzx
mad o0.xyz, r1.xyzx, r0.yyyy, r0.xxxx
mov o0.w, l(1.0)
ret
