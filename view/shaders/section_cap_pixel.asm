// Section cap pixel shader: diagonal stripes of the object colour, darkened
// in two steps, so that a cut face never passes for a lit surface.
// cb1 (object): 7 object colour
ps_4_0
input  SV_Position  v0.xyzw  read xy
output SV_TARGET    o0.xyzw

dcl_constantbuffer cb1[8], immediateIndexed
dcl_input_ps_siv linear noperspective v0.xy, position
dcl_output o0.xyzw
dcl_temps 2

// Stripes eight pixels apart, half of them lighter.
add r0.x, v0.x, v0.y
mul r0.x, r0.x, l(0.125)
frc r0.x, r0.x
lt r0.x, r0.x, l(0.5)
movc r0.x, r0.x, l(0.5), l(0.25)
// The square approximates sRGB to linear, as in the lit pixel shader.
mul r1.xyz, cb1[7].xyzx, cb1[7].xyzx
mul o0.xyz, r1.xyzx, r0.xxxx
mov o0.w, l(1.0)
ret
