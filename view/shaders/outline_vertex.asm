// Outline vertex shader: the lit vertex shader's position, the plain object
// colour for the edges, and the vertex's signed distance from the section
// plane (all zeros without a section: everything kept). Also counts the
// surfaces behind the cut for the cap, without a pixel shader.
// cb0 (frame):   0-3 view-projection rows
// cb1 (object):  0-3 model rows, 7 object colour
// cb2 (section): 0 plane in the world, kept where x·p + w >= 0
vs_4_0
input  XYZ              v0.xyz
output SV_Position      o0.xyzw
output Texcoord0        o1.xyz
output SV_ClipDistance  o2.x

dcl_constantbuffer cb0[4], immediateIndexed
dcl_constantbuffer cb1[8], immediateIndexed
dcl_constantbuffer cb2[1], immediateIndexed
dcl_input v0.xyz
dcl_output_siv o0.xyzw, position
dcl_output o1.xyz
dcl_output_siv o2.x, clip_distance
dcl_temps 2

// Instruction for instruction the lit vertex shader's position.
mul r0.xyz, v0.xxxx, cb1[0].xyzx
mad r0.xyz, v0.yyyy, cb1[1].xyzx, r0.xyzx
mad r0.xyz, v0.zzzz, cb1[2].xyzx, r0.xyzx
add r0.xyz, r0.xyzx, cb1[3].xyzx
mul r1.xyzw, r0.xxxx, cb0[0].xyzw
mad r1.xyzw, r0.yyyy, cb0[1].xyzw, r1.xyzw
mad r1.xyzw, r0.zzzz, cb0[2].xyzw, r1.xyzw
add o0.xyzw, r1.xyzw, cb0[3].xyzw

mov o1.xyz, cb1[7].xyzx
dp3 r0.x, r0.xyzx, cb2[0].xyzx
add o2.x, r0.x, cb2[0].w
ret
