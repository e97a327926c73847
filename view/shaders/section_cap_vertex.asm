// Section cap vertex shader: the corners of a rectangle in the section
// plane, from the vertex number alone (a strip of four, no vertex buffer).
// cb0 (frame):   0-3 view-projection rows
// cb2 (section): 1 corner, 2 first edge, 3 second edge, in the world
vs_4_0
input  SV_VertexID  v0.x  uint
output SV_Position  o0.xyzw

dcl_constantbuffer cb0[4], immediateIndexed
dcl_constantbuffer cb2[4], immediateIndexed
dcl_input_sgv v0.x, vertex_id
dcl_output_siv o0.xyzw, position
dcl_temps 2

// Vertex n lies at (n & 1, n >> 1) in edge units.
and r0.x, v0.x, l(1)
ushr r0.y, v0.x, l(1)
utof r0.xy, r0.xyxx
mad r1.xyz, r0.xxxx, cb2[2].xyzx, cb2[1].xyzx
mad r1.xyz, r0.yyyy, cb2[3].xyzx, r1.xyzx
mul r0.xyzw, r1.xxxx, cb0[0].xyzw
mad r0.xyzw, r1.yyyy, cb0[1].xyzw, r0.xyzw
mad r0.xyzw, r1.zzzz, cb0[2].xyzw, r0.xyzw
add o0.xyzw, r0.xyzw, cb0[3].xyzw
ret
