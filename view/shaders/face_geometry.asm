// Face geometry shader: one flat normal per triangle, turned towards the eye
// so that both sides light alike; passes the triangle on with the light and
// each vertex's signed distance from the section plane, so that the
// rasterizer cuts away the removed side. Without a section the plane is all
// zeros and keeps everything: one program serves both kinds of frame.
// Overhangs take the tint's colour (kOverhangTint in view/frame_math.h);
// with the tint off its sine is above 1 and no face qualifies.
// cb0 (frame):   4 eye position, 5 light direction
// cb1 (object):  8 overhang sine, bed top, outward sign
// cb2 (section): 0 plane in the world, kept where x·p + w >= 0
gs_4_0
input  SV_Position      v0.xyzw
input  Texcoord0        v1.xyz    // eye-to-vertex vector
input  Texcoord1        v2.xyz    // colour
output SV_Position      o0.xyzw
output Texcoord0        o1.xyz    // eye-to-vertex vector
output Texcoord1        o2.xyz    // face normal
output Texcoord2        o3.xyz    // colour
output Texcoord3        o4.xyz    // light direction
output SV_ClipDistance  o5.x

dcl_constantbuffer cb0[6], immediateIndexed
dcl_constantbuffer cb1[9], immediateIndexed
dcl_constantbuffer cb2[1], immediateIndexed
dcl_input_siv v[3][0].xyzw, position
dcl_input v[3][1].xyz
dcl_input v[3][2].xyz
dcl_temps 5
dcl_inputprimitive triangle
dcl_outputtopology trianglestrip
dcl_output_siv o0.xyzw, position
dcl_output o1.xyz
dcl_output o2.xyz
dcl_output o3.xyz
dcl_output o4.xyz
dcl_output_siv o5.x, clip_distance
dcl_maxout 3

// n = normalize(cross(a2 - a0, a1 - a0)); the view vectors serve as positions.
add r0.xyz, v[1][1].xyzx, -v[0][1].xyzx
add r1.xyz, v[2][1].xyzx, -v[0][1].xyzx
mul r2.xyz, r1.yzxy, r0.zxyz
mad r2.xyz, -r1.zxyz, r0.yzxy, r2.xyzx
dp3 r0.w, r2.xyzx, r2.xyzx
rsq r0.w, r0.w
mul r2.xyz, r2.xyzx, r0.wwww

// n is the winding's inward normal, so the outward normal's downward part
// is n.y (for an inside-out part -n.y). An overhang unless every corner's
// world height (the eye's plus its view vector's) is on the bed.
mul r4.x, r2.y, cb1[8].z
lt r4.x, cb1[8].x, r4.x
add r3.x, v[0][1].y, cb0[4].y
add r3.y, v[1][1].y, cb0[4].y
add r3.z, v[2][1].y, cb0[4].y
lt r3.xyz, cb1[8].yyyy, r3.xyzx
or r3.x, r3.x, r3.y
or r3.x, r3.x, r3.z
and r4.x, r4.x, r3.x

// Facing away from the eye (dot(a0, n) > 0): flip. Edge-on keeps it.
dp3 r0.w, v[0][1].xyzx, r2.xyzx
lt r0.w, l(0.0), r0.w
movc r2.xyz, r0.wwww, -r2.xyzx, r2.xyzx

// A loop over the three vertices is a third shorter than three copies.
mov r0.w, l(0)
loop
  ige r1.x, r0.w, l(3)
  breakc_nz r1.x
  // The world position is the eye plus the eye-to-vertex vector.
  add r3.xyz, v[r0.w][1].xyzx, cb0[4].xyzx
  dp3 r3.x, r3.xyzx, cb2[0].xyzx
  add o5.x, r3.x, cb2[0].w
  mov o0.xyzw, v[r0.w][0].xyzw
  mov o1.xyz, v[r0.w][1].xyzx
  mov o2.xyz, r2.xyzx
  movc o3.xyz, r4.xxxx, l(0.80, 0.15, 0.70, 0.0), v[r0.w][2].xyzx
  mov o4.xyz, cb0[5].xyzx
  emit
  iadd r0.w, r0.w, l(1)
endloop
ret
