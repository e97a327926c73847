// Outline pixel shader: the object colour as it is, unlit and unsquared.
ps_4_0
input  SV_Position  v0.xyzw  read none
input  Texcoord0    v1.xyz    // object colour
output SV_TARGET    o0.xyzw

dcl_input_ps constant v1.xyz
dcl_output o0.xyzw
mov o0.xyz, v1.xyzx
mov o0.w, l(1.0)
ret
