// Lit vertex shader: the vertex in the world and on the screen, the vector
// from the eye to it, and its colour tinted by the object colour.
// cb0 (frame):  0-3 view-projection rows, 4 eye position
// cb1 (object): 0-3 model rows, 7 object colour
vs_4_0
input  XYZ          v0.xyz
input  CLR          v1.xyzw  read xyz
output SV_Position  o0.xyzw
output Texcoord0    o1.xyz
output Texcoord1    o2.xyz

dcl_constantbuffer cb0[5], immediateIndexed
dcl_constantbuffer cb1[8], immediateIndexed
dcl_input v0.xyz
dcl_input v1.xyz
dcl_output_siv o0.xyzw, position
dcl_output o1.xyz
dcl_output o2.xyz
dcl_temps 2

// Kept instruction for instruction equal to the outline vertex shader, so
// that edges land on the depth of their faces.
mul r0.xyz, v0.xxxx, cb1[0].xyzx
mad r0.xyz, v0.yyyy, cb1[1].xyzx, r0.xyzx
mad r0.xyz, v0.zzzz, cb1[2].xyzx, r0.xyzx
add r0.xyz, r0.xyzx, cb1[3].xyzx
mul r1.xyzw, r0.xxxx, cb0[0].xyzw
mad r1.xyzw, r0.yyyy, cb0[1].xyzw, r1.xyzw
mad r1.xyzw, r0.zzzz, cb0[2].xyzw, r1.xyzw
add o0.xyzw, r1.xyzw, cb0[3].xyzw

add o1.xyz, r0.xyzx, -cb0[4].xyzx
mul o2.xyz, v1.xyzx, cb1[7].xyzx
ret
